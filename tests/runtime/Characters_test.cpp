#include "runtime/Characters.h"

#include <gtest/gtest.h>

using namespace pellux;

TEST(Characters, CountsAndCutsWhatAReaderSeesAsOneCharacter)
{
    // An emoji outside the basic plane (two UTF-16 units) and an e with a combining accent.
    const QString text = QStringLiteral("a\U0001F600e\u0301b");
    EXPECT_EQ(std::pair(text.size(), characterCount(text)), std::pair(qsizetype(6), qsizetype(4)));
    EXPECT_EQ(leadingCharacters(text, 2), QStringLiteral("a\U0001F600"));
    EXPECT_EQ(leadingCharacters(text, 3), QStringLiteral("a\U0001F600e\u0301"));
    EXPECT_EQ(leadingCharacters(text, 10), text);
    EXPECT_TRUE(characterCount(QString()) == 0 && leadingCharacters(QString(), 5).isEmpty());
}
