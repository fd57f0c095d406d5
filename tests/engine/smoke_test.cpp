#include <gtest/gtest.h>
#include "test_files.h"
TEST(Smoke, TempDir) { TempDir dir; WriteFileBytes(dir / L"a\\b.txt", "x"); EXPECT_EQ(ReadFileBytes(dir / L"a\\b.txt"), "x"); }
