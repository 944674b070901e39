#include "engine/libraries/lib_ac3stream.h"
#include "engine/libraries/lib_inflator.h"
#include "engine/libraries/lib_mxscan.h"
#include "engine/libraries/lib_orvoplay.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/libraries/library_loader.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace kestrel;

TEST(LibraryLoader, MessagesOfEveryStyle) {
    LibraryBinding b;
    b.fileName = "mxscan.so";
    EXPECT_EQ(libraryMissingText(b), "装载动态库mxscan.so错误");
    EXPECT_EQ(exportMissingText(b, 0), "取函数01错误，请检查是否该版本动态库");
    EXPECT_EQ(exportMissingText(b, 29), "取函数30错误，请检查是否该版本动态库");
    b.numberFormat = "%d";
    EXPECT_EQ(exportMissingText(b, 7), "取函数8错误，请检查是否该版本动态库");
    b.fileName = "orvosoundmix.so";
    b.style = LoaderStyle::Effects;
    b.numberFormat = "%02d";
    EXPECT_EQ(exportMissingText(b, 2), "取orvosoundmix.so函数03错误，请检查是否该版本动态库");
    b.style = LoaderStyle::Ac3;
    b.numberFormat = "%d";
    EXPECT_EQ(libraryMissingText(b), "装载AC3STREAM.SO错误");
    EXPECT_EQ(exportMissingText(b, 1), "AC3动态库过程调用2错误");
    b.fileName = "orvoplay.so";
    b.style = LoaderStyle::Player;
    b.firstNumber = 0;
    EXPECT_EQ(libraryMissingText(b), "装载orvoplay.so 文件出错");
    EXPECT_EQ(exportMissingText(b, 2), "装载orvoplay.so 文件函数2出错");
    b.fileName = "inflator.so";
    b.style = LoaderStyle::Inflator;
    EXPECT_EQ(libraryMissingText(b), "load inflator.so error");
    EXPECT_EQ(exportMissingText(b, 0), "load proc error");
}

TEST(LibraryLoader, MissingLibrariesShowTheirMessageAndBindNothing) {
    test::RecordingMessages msgs;
    test::TempDir empty;
    setLibraryFolder(empty.path());
    EXPECT_LT(loadMxscan(), 0);
    EXPECT_EQ(msgs.lastText(), "装载动态库mxscan.so错误");
    EXPECT_EQ(mxscan.mux_init, nullptr);
    EXPECT_LT(loadAc3stream(), 0);
    EXPECT_EQ(msgs.lastText(), "装载AC3STREAM.SO错误");
    EXPECT_LT(loadOrvoplay(), 0);
    EXPECT_EQ(msgs.lastText(), "装载orvoplay.so 文件出错");
    EXPECT_LT(loadInflator(), 0);
    EXPECT_EQ(msgs.lastText(), "load inflator.so error");
    EXPECT_LT(loadOrvosoundmix(), 0);
    EXPECT_EQ(msgs.lastText(), "装载动态库orvosoundmix.so错误");
    EXPECT_EQ(msgs.entries().size(), 5u);

    // A library that is there binds all of its exports.
    setLibraryFolder(KESTREL_BIN_DIR);
    ASSERT_GE(loadMxscan(), 0);
    EXPECT_NE(mxscan.get_mpeg4_vindex_num, nullptr);
    unloadMxscan();
    setLibraryFolder("");
}
