#include <gtest/gtest.h>
TEST(TrovaPlaceholder, Builds) { SUCCEED(); }
