// Comparison runs only, loaded with LD_PRELOAD: file flushes become no-ops, so the table can show
// how much of a download's time is the flush that makes a replaced file survive a power loss.
extern "C" int fsync(int) { return 0; }
extern "C" int fdatasync(int) { return 0; }
