// The update check run: two steps driven by tmrCheckUpdate, counted by the value of
// pbStatusCheck. Every end and every failure goes through EndCheckRun, silently.
#pragma once

namespace tarnwick {

class FrmMainUpdater;

// One tick of tmrCheckUpdate: advance the counter and run the step it selects.
void tmrCheckUpdate_Timer(FrmMainUpdater& window);

void EndCheckRun(FrmMainUpdater& window);

}  // namespace tarnwick
