// The language files shipped beside the updater (demo/app/Lang, installed into Lang/): complete,
// readable as written, and short enough for the places the fixed window gives their texts.
#include "support/WindowHarness.h"

#include "settings/IniFile.h"
#include "settings/Language.h"

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QStringDecoder>

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

const QString kMissing = QStringLiteral("\x01missing");

// Every label and button of the window; the four after the first block are empty by design.
const QStringList kFilledCaptionKeys = {
    QStringLiteral("lblWelcome"),       QStringLiteral("lblWelcome2"),        QStringLiteral("lblWelcome3"),
    QStringLiteral("lblExplain"),       QStringLiteral("lblVersionExplain"),  QStringLiteral("cmdNext"),
    QStringLiteral("cmdCancel"),        QStringLiteral("lblLanguage"),        QStringLiteral("lblsErrorDownloading"),
    QStringLiteral("lblsErrorDownloading2"), QStringLiteral("lblsErrorDownloading3"),
    QStringLiteral("lblsVersionExplain3")};
const QStringList kEmptyCaptionKeys = {QStringLiteral("lblNewVersion"), QStringLiteral("lblNextToDownload"),
                                       QStringLiteral("lblDownloading"), QStringLiteral("lblOldVersion")};
const QStringList kWindowMessageKeys = {
    QStringLiteral("ErrorDownloading"), QStringLiteral("ErrorDownloading2"), QStringLiteral("ErrorDownloading3"),
    QStringLiteral("VersionExplain"),   QStringLiteral("VersionExplain2"),   QStringLiteral("VersionExplain3"),
    QStringLiteral("VersionExplain4"),  QStringLiteral("NextToDownload2")};
const QStringList kGeneralMessageKeys = {QStringLiteral("NewUpdater"), QStringLiteral("NewUpdater2")};

QStringList SampleNames()
{
    const QDir dir(QStringLiteral(TARNWICK_LANG_SAMPLES));
    QStringList names;
    for (const QString& file : dir.entryList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name))
        names.append(file.chopped(4));
    return names;
}

QString SamplePath(const QString& name)
{
    return QDir(QStringLiteral(TARNWICK_LANG_SAMPLES)).filePath(name + QStringLiteral(".ini"));
}

QString Read(const QString& name, const QString& section, const QString& key)
{
    return ReadIniValue(SamplePath(name), section, key, kMissing);
}

// Guards against: a sample that misses a key (the caption or message then stays empty, never
// English), a value the reader cuts at 199 characters, bytes that are not UTF-8 (read as
// Windows-1252, the umlauts turn into other letters), a Next button without its access key.
TEST(LanguageSamples, EveryKeyIsThereAndReadsAsWritten)
{
    const QStringList names = SampleNames();
    ASSERT_GE(names.size(), 2);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(SamplePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString whole = utf8.decode(file.readAll());
        EXPECT_FALSE(utf8.hasError());

        auto expectFilled = [&](const QString& section, const QString& key) {
            const QString value = Read(name, section, key);
            EXPECT_TRUE(value != kMissing) << key.toStdString() << " is missing";
            EXPECT_FALSE(value.isEmpty()) << key.toStdString() << " is empty";
            EXPECT_LT(value.size(), kIniValueMaxChars) << key.toStdString() << " may have been cut";
            EXPECT_TRUE(whole.contains(value)) << key.toStdString() << " does not read as written";
        };
        for (const QString& key : kFilledCaptionKeys + kWindowMessageKeys)
            expectFilled(QString::fromLatin1(kWindowSection), key);
        for (const QString& key : kGeneralMessageKeys)
            expectFilled(QString::fromLatin1(kGeneralSection), key);
        for (const QString& key : kEmptyCaptionKeys)
            EXPECT_EQ(Read(name, QString::fromLatin1(kWindowSection), key), QString()) << key.toStdString();
        EXPECT_TRUE(Read(name, QString::fromLatin1(kWindowSection), QStringLiteral("cmdNext")).contains(u'&'));
        EXPECT_EQ(Read(name, QString::fromLatin1(kWindowSection), QStringLiteral("lblLanguage")), name);
    }
}

// The height a wrapping label needs for a text at its own width.
int WrappedHeight(const QLabel* label, const QString& text)
{
    return QFontMetrics(label->font())
        .boundingRect(QRect(0, 0, label->width(), 10000), Qt::TextWordWrap | label->alignment(), text)
        .height();
}

int TextWidth(const QWidget* widget, const QString& text)
{
    return QFontMetrics(widget->font()).horizontalAdvance(text);
}

// Guards against: a translation longer than its place in the fixed window, which the label
// clips or wraps out of sight and which runs into the list or off a button.
TEST(LanguageSamples, EveryTextFitsItsPlaceInTheWindow)
{
    for (const QString& name : SampleNames()) {
        SCOPED_TRACE(name.toStdString());
        TestServer server;
        TempAppFolder folder;
        folder.WritePreferences(QStringLiteral("0.3"), name);
        QFile sample(SamplePath(name));
        ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
        folder.Write(QStringLiteral("Lang/") + name + QStringLiteral(".ini"), sample.readAll());
        WindowHarness harness(server, folder);
        ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
        FrmMainUpdater& w = harness.Window();
        const QString section = QString::fromLatin1(kWindowSection);
        auto message = [&](const char* key) { return Read(name, section, QString::fromLatin1(key)); };

        EXPECT_LE(w.lblWelcome->geometry().right(), w.width()) << "lblWelcome runs off the window";
        for (QLabel* label : {w.lblWelcome2, w.lblWelcome3, w.lblExplain})
            EXPECT_LE(WrappedHeight(label, label->text()), label->height()) << label->objectName().toStdString();
        EXPECT_LE(WrappedHeight(w.lblNextToDownload, message("NextToDownload2")), w.lblNextToDownload->height());
        // The headline left of the list sizes itself to one line and must end before the list.
        for (const char* key : {"VersionExplain", "VersionExplain2", "VersionExplain4"})
            EXPECT_LT(w.lblVersionExplain->x() + TextWidth(w.lblVersionExplain, message(key)), w.lDownload->x())
                << key;
        for (const QString& caption : {w.cmdNext->text(), w.cmdCancel->text(), message("VersionExplain3")}) {
            QPushButton probe(caption);
            probe.setFont(w.cmdCancel->font());
            EXPECT_LE(probe.sizeHint().width(), w.cmdCancel->width()) << caption.toStdString();
        }
    }
}

}  // namespace
}  // namespace tarnwick::test
