#include "text/charset.h"

#include <gtest/gtest.h>

#include "test_charset.h"

namespace corvane {
namespace {

using testing_support::kEuro;

// Whole blocks of text are converted apart from the rest: a block whose highest
// character is the first one the set maps elsewhere must still be mapped.
TEST(HostCharset, BlocksMapLikeSingleCharacters) {
  testing_support::WindowsLikeHostCharset host;
  const ByteCharset& set = hostCharset();
  for (const size_t run : {0, 31, 64}) {
    const std::string bytes = std::string(run, 'a') + "\x80\x7F";
    const std::u16string text = std::u16string(run, u'a') + kEuro + u'\x7F';
    EXPECT_EQ(set.fromBytes(bytes), text) << run;
    EXPECT_EQ(set.toBytes(text), bytes) << run;
    EXPECT_EQ(set.toBytes(std::u16string(run, u'a') + u"\u0080\x7F"), std::string(run, 'a') + "?\x7F") << run;
  }
}

}  // namespace
}  // namespace corvane
