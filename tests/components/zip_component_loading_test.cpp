// The zip component library found on disk: this program does not link it, so the first
// KivZipArchive::CreateInstance has the runtime load libKivFldZipArchive.so from beside itself.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "kiv/fld/zip_archive.hpp"

namespace kiv::fld {
namespace {

namespace fs = std::filesystem;

bool ZipLibraryLoaded() {
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    return text.find("/libKivFldZipArchive.so") != std::string::npos;
}

TEST(ZipComponentLoading, CreateInstanceLoadsTheLibraryAndItsArchivesWork) {
    std::string pattern = (fs::temp_directory_path() / "kivfld-zip-load-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = pattern;
    std::ofstream(folder / "a.txt") << "alpha";

    EXPECT_FALSE(ZipLibraryLoaded()) << "the test program must not link the component library";
    KivZipArchive zip = KivZipArchive::CreateInstance();
    EXPECT_TRUE(ZipLibraryLoaded());
    EXPECT_TRUE(zip.Open((folder / "x.zip").string(), 1));
    EXPECT_TRUE(zip.AddFile((folder / "a.txt").string(), "a.txt"));
    EXPECT_TRUE(zip.Close());
    EXPECT_TRUE(zip.Open((folder / "x.zip").string(), 0));
    EXPECT_EQ(zip.GetEntries(), std::optional<std::string>("a.txt\n"));
    EXPECT_TRUE(zip.ExtractEntryToFile("a.txt", (folder / "b.txt").string(), false));
    EXPECT_TRUE(zip.Close());
    std::ifstream extracted(folder / "b.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(extracted), std::istreambuf_iterator<char>()), "alpha");

    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

}  // namespace
}  // namespace kiv::fld
