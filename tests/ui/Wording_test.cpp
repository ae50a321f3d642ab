// One word for one thing: what Pellux keeps is called "screenshots" wherever a window says it.
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

TEST(Wording, TheWindowsCallWhatIsKeptScreenshots)
{
    const QRegularExpression literal(QStringLiteral(R"("(?:[^"\\]|\\.)*")"));
    const QRegularExpression otherWord(
        QStringLiteral(R"(\b(recordings?|captured moments?)\b)"), QRegularExpression::CaseInsensitiveOption);
    // The permission and the act keep their names: "Screen Recording Permission", "Start Recording".
    const QRegularExpression theAct(
        QStringLiteral(R"((screen |start |stop )recording\b)"), QRegularExpression::CaseInsensitiveOption);
    int files = 0;
    QStringList found;
    for (QDirIterator it(
             QStringLiteral(":/Pellux"), { QStringLiteral("*.qml") }, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ++files;
        const QString text = QString::fromUtf8(file.readAll());
        for (const QRegularExpressionMatch &m : literal.globalMatch(text)) {
            QString shown = m.captured();
            shown.remove(theAct);
            if (otherWord.match(shown).hasMatch())
                found << file.fileName() + QStringLiteral(": ") + m.captured();
        }
    }
    EXPECT_GT(files, 40);
    EXPECT_EQ(found, QStringList());
}
