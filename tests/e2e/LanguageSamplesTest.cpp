// The language files shipped beside the updater (demo/app/Lang, installed into Lang/): complete,
// read as written, and short enough for the places the fixed window gives their texts.
#include "app/FrmMainUpdater.h"
#include "settings/IniFile.h"
#include "settings/Language.h"

#include <QDir>
#include <QStringDecoder>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

// Guards against: a sample that misses a key (the caption or message then stays empty, never
// English), a value the reader cuts at 199 characters, text that does not read back as the file
// holds it (an encoding taken for another turns the umlauts into other letters), a Next button
// without its access key, captions filled that the window keeps empty; and a translation longer
// than its place in the fixed window: a wrapping label that clips it, a self-sizing one that runs
// off the window or into the list, a button it runs off.
TEST(LanguageSamples, CompleteReadAsWrittenAndFitTheWindow)
{
    const QDir samples(QString::fromUtf8(TARNWICK_LANG_SAMPLES));
    const QStringList files = samples.entryList({u"*.ini"_s}, QDir::Files);
    ASSERT_GE(files.size(), 2);
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        QFile source(samples.filePath(file));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        const QByteArray bytes = source.readAll();
        QStringDecoder decode(QStringConverter::encodingForData(bytes).value_or(QStringConverter::Utf8));
        const QString whole = decode(bytes);
        EXPECT_FALSE(decode.hasError());
        const auto read = [&](const QString& key) {
            const bool general = key.startsWith(u"General/");
            return ReadIniValue(source.fileName(), QString::fromLatin1(general ? kGeneralSection : kWindowSection),
                                general ? key.mid(8) : key, u"\x01missing"_s);
        };
        for (const QString& key :
             u"General/NewUpdater General/NewUpdater2 lblWelcome lblWelcome2 lblWelcome3 lblExplain "
             "lblVersionExplain cmdNext cmdCancel lblLanguage lblsErrorDownloading lblsErrorDownloading2 "
             "lblsErrorDownloading3 lblsVersionExplain3 ErrorDownloading ErrorDownloading2 "
             "ErrorDownloading3 VersionExplain VersionExplain2 VersionExplain3 VersionExplain4 "
             "NextToDownload2"_s.split(u' ')) {
            const QString value = read(key);
            EXPECT_TRUE(!value.startsWith(u'\x01') && !value.isEmpty() && value.size() < kIniValueMaxChars &&
                        whole.contains(value))
                << key.toStdString() << " reads \"" << value.toStdString() << '"';
        }
        for (const QString& key : u"lblNewVersion lblNextToDownload lblDownloading lblOldVersion"_s.split(u' '))
            EXPECT_EQ(read(key).toStdString(), "") << key.toStdString();
        EXPECT_TRUE(read(u"cmdNext"_s).contains(u'&'));
        EXPECT_EQ(read(u"lblLanguage"_s).toStdString(), file.chopped(4).toStdString());

        // Each text in the control that shows it ("control:key", or the control's own key). A
        // wrapping label must not need more height than it has; the self-sizing headline must end
        // before the list, the title within the window; a button must hold its caption.
        FrmMainUpdater w(UpdaterSetup{});
        for (const QString& place :
             u"lblWelcome lblWelcome2 lblWelcome3 lblExplain lblNextToDownload:NextToDownload2 "
             "lblVersionExplain:VersionExplain lblVersionExplain:VersionExplain2 "
             "lblVersionExplain:VersionExplain4 cmdNext cmdCancel cmdCancel:VersionExplain3"_s.split(u' ')) {
            auto* control = w.findChild<QWidget*>(place.section(u':', 0, 0));
            SetCaption(control, read(place.section(u':', -1)));
            const auto* label = qobject_cast<const QLabel*>(control);
            const int room = control == w.lblVersionExplain ? w.lDownload->x() - 1 - control->x()
                             : label                        ? w.width() - control->x()
                                                            : control->width();
            if (label && label->wordWrap())
                EXPECT_LE(label->heightForWidth(label->width()), label->height()) << place.toStdString();
            else
                EXPECT_LE(control->sizeHint().width(), room) << place.toStdString();
        }
    }
}

}  // namespace
}  // namespace tarnwick
