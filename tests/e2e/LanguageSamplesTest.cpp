// The language files shipped beside the updater (demo/app/Lang, installed into Lang/): complete,
// read as written, and short enough for the places the fixed window gives their texts.
#include "app/FrmMainUpdater.h"
#include "settings/IniFile.h"
#include "settings/Language.h"

#include <QDir>
#include <QFontMetrics>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

const QString kMissing = u"\x01missing"_s;
const QDir kSamples(QString::fromUtf8(TARNWICK_LANG_SAMPLES));

QStringList Names(const char* spaced) { return QString::fromLatin1(spaced).split(u' '); }
QStringList Samples() { return kSamples.entryList({u"*.ini"_s}, QDir::Files).replaceInStrings(u".ini"_s, QString()); }
QString Read(const QString& sample, const char* section, const QString& key)
{
    return ReadIniValue(kSamples.filePath(sample + u".ini"_s), QString::fromLatin1(section), key, kMissing);
}

// Guards against: a sample that misses a key (the caption or message then stays empty, never
// English), a value the reader cuts at 199 characters, text that does not read back as the file
// holds it (an encoding taken for another turns the umlauts into other letters), a Next button
// without its access key, captions filled that the window keeps empty.
TEST(LanguageSamples, EveryKeyIsThereAndReadsAsWritten)
{
    ASSERT_GE(Samples().size(), 2);
    for (const QString& sample : Samples()) {
        SCOPED_TRACE(sample.toStdString());
        QFile file(kSamples.filePath(sample + u".ini"_s));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QStringDecoder decode(QStringConverter::encodingForData(bytes).value_or(QStringConverter::Utf8));
        const QString whole = decode(bytes);
        EXPECT_FALSE(decode.hasError());
        const auto expectFilled = [&](const char* section, const char* keys) {
            for (const QString& key : Names(keys)) {
                const QString value = Read(sample, section, key);
                EXPECT_TRUE(value != kMissing && !value.isEmpty() && value.size() < kIniValueMaxChars &&
                            whole.contains(value))
                    << key.toStdString() << " reads \"" << value.toStdString() << '"';
            }
        };
        expectFilled(kWindowSection, "lblWelcome lblWelcome2 lblWelcome3 lblExplain lblVersionExplain cmdNext cmdCancel "
                                     "lblLanguage lblsErrorDownloading lblsErrorDownloading2 lblsErrorDownloading3 "
                                     "lblsVersionExplain3 ErrorDownloading ErrorDownloading2 ErrorDownloading3 "
                                     "VersionExplain VersionExplain2 VersionExplain3 VersionExplain4 NextToDownload2");
        expectFilled(kGeneralSection, "NewUpdater NewUpdater2");
        for (const QString& key : Names("lblNewVersion lblNextToDownload lblDownloading lblOldVersion"))
            EXPECT_EQ(Read(sample, kWindowSection, key), QString()) << key.toStdString();
        EXPECT_TRUE(Read(sample, kWindowSection, u"cmdNext"_s).contains(u'&'));
        EXPECT_EQ(Read(sample, kWindowSection, u"lblLanguage"_s), sample);
    }
}

int WrappedHeight(const QLabel* label, const QString& text)
{
    const QRect room(0, 0, label->width(), 10000);
    return QFontMetrics(label->font()).boundingRect(room, Qt::TextWordWrap | label->alignment(), text).height();
}

// Guards against: a translation longer than its place in the fixed window, which the label
// clips or wraps out of sight and which runs into the list or off a button.
TEST(LanguageSamples, EveryTextFitsItsPlaceInTheWindow)
{
    for (const QString& sample : Samples()) {
        SCOPED_TRACE(sample.toStdString());
        QTemporaryDir folder;
        ASSERT_TRUE(QDir(folder.path()).mkdir(u"Lang"_s));
        ASSERT_TRUE(QFile::copy(kSamples.filePath(sample + u".ini"_s), folder.filePath(u"Lang/"_s + sample + u".ini"_s)));
        QFile preferences(folder.filePath(u"Preferences.ini"_s));
        ASSERT_TRUE(preferences.open(QIODevice::WriteOnly));
        preferences.write("[Settings]\r\nVersion=0.3\r\nLang=" + sample.toUtf8() + "\r\n");
        preferences.close();
        UpdaterSetup setup;
        setup.appFolder = folder.path();
        FrmMainUpdater w(setup);
        w.ApplyLanguage();
        const auto message = [&](const char* key) { return Read(sample, kWindowSection, QString::fromLatin1(key)); };

        EXPECT_LE(w.lblWelcome->geometry().right(), w.width()) << "lblWelcome runs off the window";
        for (QLabel* label : {w.lblWelcome2, w.lblWelcome3, w.lblExplain})
            EXPECT_LE(WrappedHeight(label, label->text()), label->height()) << label->objectName().toStdString();
        EXPECT_LE(WrappedHeight(w.lblNextToDownload, message("NextToDownload2")), w.lblNextToDownload->height());
        // The headline left of the list sizes itself to one line and must end before the list.
        for (const char* key : {"VersionExplain", "VersionExplain2", "VersionExplain4"}) {
            const int width = QFontMetrics(w.lblVersionExplain->font()).horizontalAdvance(message(key));
            EXPECT_LT(w.lblVersionExplain->x() + width, w.lDownload->x()) << key;
        }
        for (const QString& caption : {w.cmdNext->text(), w.cmdCancel->text(), message("VersionExplain3")}) {
            QPushButton probe(caption);
            probe.setFont(w.cmdCancel->font());
            EXPECT_LE(probe.sizeHint().width(), w.cmdCancel->width()) << caption.toStdString();
        }
    }
}

}  // namespace
}  // namespace tarnwick
