#include "common/Module.h"

#include <gtest/gtest.h>

namespace vantorel {
namespace {

TEST(LoadModuleEntry, FindsTheEntryBesideTheProgramOrSaysWhyNot) {
    std::string failure;
    EXPECT_NE(LoadModuleEntry("vantorel-text.so", "VantorelTextModule", failure), nullptr);
    EXPECT_EQ(failure, "");

    EXPECT_EQ(LoadModuleEntry("vantorel-text.so", "NoSuchEntry", failure), nullptr);
    EXPECT_NE(failure.find("vantorel-text.so is not the module"), std::string::npos) << failure;

    EXPECT_EQ(LoadModuleEntry("vantorel-none.so", "VantorelTextModule", failure), nullptr);
    // Both places are tried, and each says why it failed.
    EXPECT_NE(failure.find("; "), std::string::npos) << failure;
    EXPECT_NE(failure.find("lib/vantorel/vantorel-none.so"), std::string::npos) << failure;
}

} // namespace
} // namespace vantorel
