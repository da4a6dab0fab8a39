// tarnwick-publish: publishes a release on the update site for every earlier version at once.
#include "publish/Publish.h"
#include "publish/Resign.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const tarnwick::ParsedOptions parsed = tarnwick::ParsePublishOptions(application.arguments().mid(1));
    if (parsed.options.help) {
        std::printf("%s", qPrintable(tarnwick::PublishUsage()));
        return 0;
    }
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "tarnwick-publish: %s\n\n%s", qPrintable(parsed.error),
                     qPrintable(tarnwick::PublishUsage()));
        return 2;
    }
    return parsed.options.resign ? tarnwick::Resign(parsed.options) : tarnwick::Publish(parsed.options);
}
