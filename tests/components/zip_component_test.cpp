// The zip component library driven through kiv::fld::KivZipArchive: real archives on disk, the
// errors the component raises, and archives that Python's zipfile and the zip tool read and write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "KivFldZipArchive/KivZipArchive.hpp"
#include "component_test_support.hpp"
#include "kiv/fld/zip_archive.hpp"
#include "kiv/runtime/runtime.hpp"
#include "support/thread_locale.hpp"

namespace kiv::fld {
namespace {

namespace fs = std::filesystem;
using kiv::runtime::String;

namespace support = kivfld::components::testing;
using support::Hex;
using support::ReadFile;
using support::WriteFile;

constexpr std::chrono::seconds kToolTimeout{60};

// The test's folder; `folder / "name"` is the path of "name" in it, as text.
class Folder : public support::TemporaryFolder {
public:
    std::string operator/(const std::string& name) const { return (Path() / name).string(); }
};

// Bytes that compress, zero bytes included, long enough to span several read buffers.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = (i % 7 == 0) ? '\0' : static_cast<char>('a' + (state >> 16) % 8);
    }
    return bytes;
}

// Runs Python's `script` with `argument` as sys.argv[1].
support::ProcessResult Python(const std::string& script, const std::string& argument) {
    return support::RunProcess({support::kPython, "-c", script, argument}, kToolTimeout);
}

// Runs the zip tool with `arguments` inside `folder`, so that entry names are relative to it.
support::ProcessResult Zip(const fs::path& folder, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"sh", "-c", "cd \"$0\" && exec zip \"$@\"", folder.string()});
    return support::RunProcess(arguments, kToolTimeout);
}

// Each entry of the archive as "<name as UTF-8 hex> <content hex>", one per line, after Python's
// zipfile has checked every entry's checksum.
constexpr const char* kPythonListing = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    damaged = archive.testzip()
    if damaged is not None:
        sys.exit('damaged entry: ' + damaged)
    for info in archive.infolist():
        print(info.filename.encode('utf-8').hex(), archive.read(info).hex())
)";

class ZipComponent : public ::testing::Test {
protected:
    // Creates `archive` through the facade with one entry per (entry name, content) pair; the
    // source files are written under "sources/".
    void CreateArchive(const std::string& archive, const std::vector<std::pair<std::string, std::string>>& entries) {
        fs::create_directories(m_folder.Path() / "sources");
        KivZipArchive zip = KivZipArchive::CreateInstance();
        ASSERT_TRUE(zip.Open(archive, 1));
        int counter = 0;
        for (const auto& [name, content] : entries) {
            const std::string source = m_folder / ("sources/" + std::to_string(++counter));
            WriteFile(source, content);
            ASSERT_TRUE(zip.AddFile(source, name)) << name;
        }
        ASSERT_TRUE(zip.Close());
    }

    std::optional<std::string> Listing(const std::string& archive) {
        KivZipArchive zip = KivZipArchive::CreateInstance();
        if (!zip.Open(archive, 0)) return std::nullopt;
        std::optional<std::string> entries = zip.GetEntries();
        EXPECT_TRUE(zip.Close());
        return entries;
    }

    // Names of the folder's files other than those given: leftovers of a failed extraction.
    std::vector<std::string> Leftovers(const std::vector<std::string>& expected) {
        std::vector<std::string> others;
        for (const auto& entry : fs::directory_iterator(m_folder.Path())) {
            const std::string name = entry.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) others.push_back(name);
        }
        return others;
    }

    Folder m_folder;
};

TEST_F(ZipComponent, CreatedArchiveListsItsEntriesInOrderOnePerLine) {
    const std::string archive = m_folder / "created.zip";
    ASSERT_NO_FATAL_FAILURE(
        CreateArchive(archive, {{"a.txt", "alpha"}, {"docs/b.bin", Pattern(300000)}, {"empty.txt", ""}}));
    EXPECT_EQ(Listing(archive), std::optional<std::string>("a.txt\ndocs/b.bin\nempty.txt\n"));
}

TEST_F(ZipComponent, ArchiveWithoutEntriesIsAnEmptyZipListedAsEmptyText) {
    const std::string archive = m_folder / "empty.zip";
    ASSERT_NO_FATAL_FAILURE(CreateArchive(archive, {}));
    ASSERT_TRUE(fs::exists(archive));
    EXPECT_EQ(fs::file_size(archive), 22u) << "just the end-of-central-directory record";
    EXPECT_EQ(Listing(archive), std::optional<std::string>(""));
}

TEST_F(ZipComponent, ExtractWritesEachEntrysBytesAndModificationTime) {
    const std::string archive = m_folder / "x.zip";
    const std::string big = Pattern(300000);
    ASSERT_NO_FATAL_FAILURE(CreateArchive(archive, {{"a.txt", "alpha"}, {"docs/b.bin", big}, {"empty.txt", ""}}));
    // A source file with a known time: noon local time, an even second (zip keeps two-second steps).
    const std::string timed = m_folder / "timed.txt";
    WriteFile(timed, "timed");
    std::tm noon{};
    noon.tm_year = 2020 - 1900;
    noon.tm_mon = 5;
    noon.tm_mday = 15;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const std::time_t noonTime = std::mktime(&noon);
    const timespec times[2] = {{noonTime, 0}, {noonTime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, timed.c_str(), times, 0), 0);
    {
        KivZipArchive zip = KivZipArchive::CreateInstance();
        ASSERT_TRUE(zip.Open(archive, 2));
        ASSERT_TRUE(zip.AddFile(timed, "timed.txt"));
        ASSERT_TRUE(zip.Close());
    }

    KivZipArchive zip = KivZipArchive::CreateInstance();
    ASSERT_TRUE(zip.Open(archive, 0));
    struct Case {
        const char* entry;
        std::string expected;
    };
    const Case cases[] = {{"a.txt", "alpha"}, {"docs/b.bin", big}, {"empty.txt", ""}, {"timed.txt", "timed"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const std::string destination = m_folder / (std::string("out-") + std::to_string(&c - cases));
        EXPECT_TRUE(zip.ExtractEntryToFile(c.entry, destination, false));
        EXPECT_TRUE(ReadFile(destination) == c.expected) << "the extracted bytes differ";
    }
    struct stat status {};
    ASSERT_EQ(::stat((m_folder / "out-3").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, noonTime);
    EXPECT_TRUE(zip.Close());
}

TEST_F(ZipComponent, ExtractRefusesToReplaceAFileUnlessOverwriteAndKeepsItsPermissions) {
    const std::string archive = m_folder / "x.zip";
    ASSERT_NO_FATAL_FAILURE(CreateArchive(archive, {{"a.txt", "from the archive"}}));
    const std::string destination = m_folder / "existing.txt";
    WriteFile(destination, "precious");
    fs::permissions(destination, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    KivZipArchive zip = KivZipArchive::CreateInstance();
    ASSERT_TRUE(zip.Open(archive, 0));
    EXPECT_FALSE(zip.ExtractEntryToFile("a.txt", destination, false));
    EXPECT_EQ(ReadFile(destination), "precious");
    EXPECT_TRUE(zip.ExtractEntryToFile("a.txt", destination, true));
    EXPECT_EQ(ReadFile(destination), "from the archive");
    EXPECT_EQ(fs::status(destination).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(zip.Close());
    EXPECT_EQ(Leftovers({"x.zip", "existing.txt", "sources"}), std::vector<std::string>());
}

TEST_F(ZipComponent, FailedExtractionLeavesTheReplacedFileAndNoPartialFile) {
    // A stored entry whose bytes are damaged after writing: its checksum fails while extracting.
    const std::string archive = m_folder / "damaged.zip";
    const std::string content(5000, 'q');
    WriteFile(m_folder / "stored.txt", content);
    const support::ProcessResult zipTool = Zip(m_folder.Path(), {"-q", "-0", "damaged.zip", "stored.txt"});
    ASSERT_EQ(zipTool.exitCode, 0) << zipTool.output;
    std::string bytes = ReadFile(archive);
    const auto at = bytes.find(content);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 2500] = 'x';
    WriteFile(archive, bytes);
    const std::string destination = m_folder / "existing.txt";
    WriteFile(destination, "precious");

    KivZipArchive zip = KivZipArchive::CreateInstance();
    ASSERT_TRUE(zip.Open(archive, 0));
    EXPECT_FALSE(zip.ExtractEntryToFile("stored.txt", destination, true));
    EXPECT_EQ(ReadFile(destination), "precious");
    EXPECT_FALSE(zip.ExtractEntryToFile("stored.txt", m_folder / "fresh.txt", false));
    EXPECT_FALSE(fs::exists(m_folder / "fresh.txt"));
    EXPECT_TRUE(zip.Close());
    EXPECT_EQ(Leftovers({"damaged.zip", "existing.txt", "stored.txt"}), std::vector<std::string>());
}

TEST_F(ZipComponent, ExtractReachesADestinationNameNearTheLengthLimit) {
    const std::string archive = m_folder / "x.zip";
    ASSERT_NO_FATAL_FAILURE(CreateArchive(archive, {{"a.txt", "alpha"}}));
    const std::string destination = m_folder / std::string(250, 'n');
    KivZipArchive zip = KivZipArchive::CreateInstance();
    ASSERT_TRUE(zip.Open(archive, 0));
    EXPECT_TRUE(zip.ExtractEntryToFile("a.txt", destination, false));
    EXPECT_TRUE(zip.ExtractEntryToFile("a.txt", destination, true));
    EXPECT_TRUE(zip.Close());
    EXPECT_EQ(ReadFile(destination), "alpha");
}

TEST_F(ZipComponent, UpdateModeKeepsTheEntriesAndAddsNewOnes) {
    const std::string archive = m_folder / "x.zip";
    ASSERT_NO_FATAL_FAILURE(CreateArchive(archive, {{"a.txt", "alpha"}}));
    WriteFile(m_folder / "b.txt", "beta");
    {
        KivZipArchive zip = KivZipArchive::CreateInstance();
        ASSERT_TRUE(zip.Open(archive, 2));
        EXPECT_TRUE(zip.ExtractEntryToFile("a.txt", m_folder / "a-while-updating.txt", false));
        EXPECT_TRUE(zip.AddFile(m_folder / "b.txt", "b.txt"));
        EXPECT_EQ(zip.GetEntries(), std::optional<std::string>("a.txt\nb.txt\n")) << "additions are listed at once";
        ASSERT_TRUE(zip.Close());
    }
    EXPECT_EQ(ReadFile(m_folder / "a-while-updating.txt"), "alpha");
    KivZipArchive zip = KivZipArchive::CreateInstance();
    ASSERT_TRUE(zip.Open(archive, 0));
    EXPECT_EQ(zip.GetEntries(), std::optional<std::string>("a.txt\nb.txt\n"));
    EXPECT_TRUE(zip.ExtractEntryToFile("a.txt", m_folder / "a.out", false));
    EXPECT_TRUE(zip.ExtractEntryToFile("b.txt", m_folder / "b.out", false));
    EXPECT_TRUE(zip.Close());
    EXPECT_EQ(ReadFile(m_folder / "a.out"), "alpha");
    EXPECT_EQ(ReadFile(m_folder / "b.out"), "beta");
}

TEST_F(ZipComponent, UpdateModeStartsAMissingArchive) {
    const std::string archive = m_folder / "new.zip";
    WriteFile(m_folder / "a.txt", "alpha");
    KivZipArchive zip = KivZipArchive::CreateInstance();
    ASSERT_TRUE(zip.Open(archive, 2));
    EXPECT_TRUE(zip.AddFile(m_folder / "a.txt", "a.txt"));
    EXPECT_TRUE(zip.Close());
    EXPECT_EQ(Listing(archive), std::optional<std::string>("a.txt\n"));
}

TEST_F(ZipComponent, CreateModeLeavesAnExistingFileAlone) {
    const std::string archive = m_folder / "x.zip";
    WriteFile(archive, "not to be replaced");
    KivZipArchive zip = KivZipArchive::CreateInstance();
    EXPECT_FALSE(zip.Open(archive, 1));
    EXPECT_FALSE(zip.GetEntries()) << "nothing was opened";
    EXPECT_EQ(ReadFile(archive), "not to be replaced");
}

TEST_F(ZipComponent, UnknownModesAndMissingFilesFailThroughTheFacade) {
    WriteFile(m_folder / "a.txt", "alpha");
    KivZipArchive zip = KivZipArchive::CreateInstance();
    for (const int mode : {-1, 3, 7}) {
        SCOPED_TRACE(mode);
        EXPECT_FALSE(zip.Open(m_folder / "x.zip", mode));
    }
    EXPECT_FALSE(fs::exists(m_folder / "x.zip"));
    EXPECT_FALSE(zip.Open(m_folder / "missing.zip", 0));
    ASSERT_TRUE(zip.Open(m_folder / "x.zip", 1));
    EXPECT_FALSE(zip.AddFile(m_folder / "missing.txt", "missing.txt"));
    EXPECT_TRUE(zip.AddFile(m_folder / "a.txt", "a.txt"));
    EXPECT_TRUE(zip.Close());
    EXPECT_EQ(Listing(m_folder / "x.zip"), std::optional<std::string>("a.txt\n"));
}

TEST_F(ZipComponent, DroppingTheLastHandleWithoutCloseDiscardsTheChanges) {
    const std::string existing = m_folder / "existing.zip";
    ASSERT_NO_FATAL_FAILURE(CreateArchive(existing, {{"a.txt", "alpha"}}));
    const std::string before = ReadFile(existing);
    WriteFile(m_folder / "b.txt", "beta");
    {
        KivZipArchive created = KivZipArchive::CreateInstance();
        ASSERT_TRUE(created.Open(m_folder / "never.zip", 1));
        ASSERT_TRUE(created.AddFile(m_folder / "b.txt", "b.txt"));
        KivZipArchive updated = KivZipArchive::CreateInstance();
        ASSERT_TRUE(updated.Open(existing, 2));
        ASSERT_TRUE(updated.AddFile(m_folder / "b.txt", "b.txt"));
    }
    EXPECT_FALSE(fs::exists(m_folder / "never.zip"));
    EXPECT_TRUE(ReadFile(existing) == before) << "the archive changed";
}

TEST_F(ZipComponent, FailedCloseReportsFalseAndLeavesNoArchiveOpen) {
    fs::create_directories(m_folder / "gone");
    WriteFile(m_folder / "a.txt", "alpha");
    KivZipArchive zip = KivZipArchive::CreateInstance();
    ASSERT_TRUE(zip.Open(m_folder / "gone/x.zip", 1));
    ASSERT_TRUE(zip.AddFile(m_folder / "a.txt", "a.txt"));
    fs::remove(m_folder / "gone");  // nowhere left to write the archive
    EXPECT_FALSE(zip.Close());
    EXPECT_FALSE(zip.GetEntries()) << "the failed archive is no longer open";
    EXPECT_FALSE(zip.Close());
    EXPECT_TRUE(zip.Open(m_folder / "x.zip", 1)) << "the object takes a new archive";
    EXPECT_TRUE(zip.Close());
}

TEST_F(ZipComponent, NonAsciiNamesTravelAsUtf8WhateverTheHostCodePage) {
    // "über.txt" on disk, added as "déjà/über.txt" by a host whose code page is Latin-1.
    WriteFile(m_folder /
                  "\xC3\xBC"
                  "ber.txt",
              "umlaut");
    const std::string archive = m_folder / "names.zip";
    {
        const testing::ScopedThreadLocale latin1(testing::kLatin1Locale);
        KivZipArchive zip = KivZipArchive::CreateInstance();
        ASSERT_TRUE(zip.Open(m_folder.Path().string() + "/names.zip", 1));
        ASSERT_TRUE(zip.AddFile(m_folder.Path().string() + "/\xFC"
                                                           "ber.txt",
                                "d\xE9j\xE0/\xFC"
                                "ber.txt"));
        ASSERT_TRUE(zip.Close());
        ASSERT_TRUE(zip.Open(archive, 0));
        EXPECT_EQ(zip.GetEntries(), std::optional<std::string>("d\xE9j\xE0/\xFC"
                                                               "ber.txt\n"));
        EXPECT_TRUE(zip.Close());
    }
    const testing::ScopedThreadLocale utf8(testing::kUtf8Locale);
    KivZipArchive zip = KivZipArchive::CreateInstance();
    ASSERT_TRUE(zip.Open(archive, 0));
    EXPECT_EQ(zip.GetEntries(), std::optional<std::string>("d\xC3\xA9j\xC3\xA0/\xC3\xBC"
                                                           "ber.txt\n"));
    EXPECT_TRUE(
        zip.ExtractEntryToFile("d\xC3\xA9j\xC3\xA0/\xC3\xBC"
                               "ber.txt",
                               m_folder / "\xE6\x9D\xB1.txt", false));
    EXPECT_TRUE(zip.Close());
    EXPECT_EQ(ReadFile(m_folder / "\xE6\x9D\xB1.txt"), "umlaut");

    const support::ProcessResult python = Python(kPythonListing, archive);
    ASSERT_EQ(python.exitCode, 0) << python.output;
    EXPECT_EQ(python.output, Hex("d\xC3\xA9j\xC3\xA0/\xC3\xBC"
                                 "ber.txt") +
                                 " " + Hex("umlaut") + "\n");
}

TEST_F(ZipComponent, PythonZipfileReadsWhatTheComponentWrites) {
    const std::string big = Pattern(300000);
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    const Case cases[] = {
        {"entries", {{"a.txt", "alpha"}, {"docs/b.bin", big}, {"empty.txt", ""}}},
        {"no entries", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string archive = m_folder / (std::string(c.name) + ".zip");
        ASSERT_NO_FATAL_FAILURE(CreateArchive(archive, c.entries));
        std::string expected;
        for (const auto& [name, content] : c.entries) expected += Hex(name) + " " + Hex(content) + "\n";
        const support::ProcessResult python = Python(kPythonListing, archive);
        ASSERT_EQ(python.exitCode, 0) << python.output;
        EXPECT_TRUE(python.output == expected) << "zipfile read other names or bytes:\n"
                                               << python.output.substr(0, 400);
        // The listing command CI runs on an archive of the component's.
        const support::ProcessResult names =
            Python("import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).namelist())", archive);
        ASSERT_EQ(names.exitCode, 0) << names.output;
        std::string list;
        for (const auto& [name, content] : c.entries) list += (list.empty() ? "'" : ", '") + name + "'";
        EXPECT_EQ(names.output, "[" + list + "]\n");
    }
}

TEST_F(ZipComponent, ArchiveMadeByTheZipToolIsReadBack) {
    // The zip tool is part of the test environment: without it this test fails, it is not skipped.
    ASSERT_TRUE(support::IsOnPath("zip")) << "the zip tool (Debian package zip) is not installed";
    const std::string big = Pattern(100000);
    WriteFile(m_folder / "a.txt", "alpha\n");
    fs::create_directories(m_folder.Path() / "sub");
    WriteFile(m_folder / "sub/b.bin", big);
    WriteFile(m_folder / "stored.txt", "kept as it is");
    WriteFile(m_folder /
                  "\xC3\xBC"
                  "ber.txt",
              "umlaut");
    const support::ProcessResult deflated = Zip(m_folder.Path(), {"-q", "made.zip", "a.txt", "sub/b.bin",
                                                                  "\xC3\xBC"
                                                                  "ber.txt"});
    ASSERT_EQ(deflated.exitCode, 0) << deflated.output;
    const support::ProcessResult stored = Zip(m_folder.Path(), {"-q", "-0", "made.zip", "stored.txt"});
    ASSERT_EQ(stored.exitCode, 0) << stored.output;

    const testing::ScopedThreadLocale utf8(testing::kUtf8Locale);
    KivZipArchive zip = KivZipArchive::CreateInstance();
    ASSERT_TRUE(zip.Open(m_folder / "made.zip", 0));
    EXPECT_EQ(zip.GetEntries(), std::optional<std::string>("a.txt\nsub/b.bin\n\xC3\xBC"
                                                           "ber.txt\nstored.txt\n"));
    struct Case {
        std::string entry;
        std::string expected;
    };
    const Case cases[] = {{"a.txt", "alpha\n"},
                          {"sub/b.bin", big},
                          {"\xC3\xBC"
                           "ber.txt",
                           "umlaut"},
                          {"stored.txt", "kept as it is"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const std::string destination = m_folder / ("out-" + std::to_string(&c - cases));
        EXPECT_TRUE(zip.ExtractEntryToFile(c.entry, destination, false));
        EXPECT_TRUE(ReadFile(destination) == c.expected) << "the extracted bytes differ";
    }
    EXPECT_TRUE(zip.Close());
}

// The component's own errors, seen directly: the facade turns them all into false or absent.
class ZipComponentErrors : public ZipComponent {
protected:
    using Contract = KivFldZipArchive::KivZipArchive;
    using Act = std::function<void(Contract&)>;

    static String Text(const std::string& ascii) { return String(std::u16string(ascii.begin(), ascii.end())); }

    struct Case {
        const char* name;
        Act act;
        const std::type_info& type;
        std::string message;
    };

    void Check(const Case& c) {
        SCOPED_TRACE(c.name);
        const auto zip =
            kiv::runtime::ActivateAs<Contract>(std::string(Contract::kLibrary), std::string(Contract::kClassName));
        try {
            c.act(*zip);
            ADD_FAILURE() << "nothing was raised";
        } catch (const kiv::runtime::ComponentError& error) {
            EXPECT_EQ(typeid(error), c.type) << "raised " << typeid(error).name() << ": " << error.what();
            EXPECT_EQ(std::string(error.what()), c.message);
        }
    }
};

TEST_F(ZipComponentErrors, OpenRaisesForBadArgumentsAndFiles) {
    using namespace kiv::runtime;
    const std::string existing = m_folder / "existing.zip";
    ASSERT_NO_FATAL_FAILURE(CreateArchive(existing, {{"a.txt", "alpha"}}));
    WriteFile(m_folder / "plain.txt", "no archive");
    const std::string missing = m_folder / "missing.zip";
    const std::string plain = m_folder / "plain.txt";
    const Case cases[] = {
        {"null path", [](Contract& z) { z.Open(String(), 0); }, typeid(ArgumentNullError),
         "Value cannot be null. (Parameter 'archiveAbsolutePath')"},
        {"empty path", [](Contract& z) { z.Open(String::Empty(), 1); }, typeid(ArgumentError),
         "The value cannot be empty. (Parameter 'archiveAbsolutePath')"},
        {"zero character in the path", [&](Contract& z) { z.Open(String(std::u16string(u"/tmp/a\0b.zip", 12)), 1); },
         typeid(ArgumentError), "The value cannot contain a zero character. (Parameter 'archiveAbsolutePath')"},
        {"lone surrogate in the path", [&](Contract& z) { z.Open(String(u"/tmp/\xD800.zip"), 1); },
         typeid(ArgumentError), "The value is not valid UTF-16 text. (Parameter 'archiveAbsolutePath')"},
        {"mode 3", [&](Contract& z) { z.Open(Text(missing), 3); }, typeid(ArgumentOutOfRangeError),
         "openMode must be 0 (read), 1 (create) or 2 (update), not 3."},
        {"mode -1", [&](Contract& z) { z.Open(Text(missing), -1); }, typeid(ArgumentOutOfRangeError),
         "openMode must be 0 (read), 1 (create) or 2 (update), not -1."},
        {"reading a missing archive", [&](Contract& z) { z.Open(Text(missing), 0); }, typeid(FileNotFoundError),
         "Could not find the archive '" + missing + "'."},
        {"creating over an existing file", [&](Contract& z) { z.Open(Text(existing), 1); }, typeid(IoError),
         "The archive '" + existing + "' already exists; open it for update to add to it."},
        {"reading a file that is no archive", [&](Contract& z) { z.Open(Text(plain), 0); }, typeid(IoError),
         "'" + plain + "' is not a zip archive."},
        {"opening twice",
         [&](Contract& z) {
             z.Open(Text(existing), 0);
             z.Open(Text(existing), 0);
         },
         typeid(InvalidOperationError), "An archive is already open; close it first."},
    };
    for (const Case& c : cases) Check(c);
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(ZipComponentErrors, AddFileRaisesForMissingFilesBadNamesAndWrongModes) {
    using namespace kiv::runtime;
    const std::string existing = m_folder / "existing.zip";
    ASSERT_NO_FATAL_FAILURE(CreateArchive(existing, {{"a.txt", "alpha"}}));
    const std::string source = m_folder / "b.txt";
    WriteFile(source, "beta");
    const std::string missing = m_folder / "missing.txt";
    const std::string folder = m_folder / "sources";
    const auto update = [&](Contract& z) { z.Open(Text(existing), 2); };
    const Case cases[] = {
        {"nothing open", [&](Contract& z) { z.AddFile(Text(source), Text("b.txt")); }, typeid(InvalidOperationError),
         "No archive is open; call Open first."},
        {"missing file",
         [&](Contract& z) {
             update(z);
             z.AddFile(Text(missing), Text("missing.txt"));
         },
         typeid(FileNotFoundError), "Could not find file '" + missing + "'."},
        {"folder instead of a file",
         [&](Contract& z) {
             update(z);
             z.AddFile(Text(folder), Text("sources"));
         },
         typeid(IoError), "'" + folder + "' is not a regular file."},
        {"read mode",
         [&](Contract& z) {
             z.Open(Text(existing), 0);
             z.AddFile(Text(source), Text("b.txt"));
         },
         typeid(InvalidOperationError), "The archive was opened for reading; entries cannot be added."},
        {"name already in the archive",
         [&](Contract& z) {
             update(z);
             z.AddFile(Text(source), Text("a.txt"));
         },
         typeid(ArgumentError), "The archive already has an entry named 'a.txt'."},
        {"line break in the name",
         [&](Contract& z) {
             update(z);
             z.AddFile(Text(source), Text("b\n.txt"));
         },
         typeid(ArgumentError), "An entry name cannot contain a line break. (Parameter 'entryName')"},
        {"null name",
         [&](Contract& z) {
             update(z);
             z.AddFile(Text(source), String());
         },
         typeid(ArgumentNullError), "Value cannot be null. (Parameter 'entryName')"},
        {"null path",
         [&](Contract& z) {
             update(z);
             z.AddFile(String(), Text("b.txt"));
         },
         typeid(ArgumentNullError), "Value cannot be null. (Parameter 'absolutePath')"},
    };
    for (const Case& c : cases) Check(c);
    EXPECT_EQ(Listing(existing), std::optional<std::string>("a.txt\n")) << "nothing was added";
}

TEST_F(ZipComponentErrors, ExtractEntryToFileRaisesWithoutTouchingTheDestination) {
    using namespace kiv::runtime;
    const std::string existing = m_folder / "existing.zip";
    ASSERT_NO_FATAL_FAILURE(CreateArchive(existing, {{"a.txt", "alpha"}}));
    // An archive with a folder entry, as other tools write them.
    const std::string withFolder = m_folder / "folders.zip";
    const support::ProcessResult python =
        Python("import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w'); z.writestr('sub/',''); z.close()", withFolder);
    ASSERT_EQ(python.exitCode, 0) << python.output;
    const std::string taken = m_folder / "taken.txt";
    WriteFile(taken, "precious");
    const std::string source = m_folder / "b.txt";
    WriteFile(source, "beta");
    const std::string nowhere = m_folder / "no-such-folder/a.txt";
    const Case cases[] = {
        {"nothing open", [&](Contract& z) { z.ExtractEntryToFile(Text("a.txt"), Text(taken), true); },
         typeid(InvalidOperationError), "No archive is open; call Open first."},
        {"create mode",
         [&](Contract& z) {
             z.Open(Text(m_folder / "new.zip"), 1);
             z.ExtractEntryToFile(Text("a.txt"), Text(m_folder / "out.txt"), false);
         },
         typeid(InvalidOperationError), "The archive was opened for creating; its entries cannot be read."},
        {"missing entry",
         [&](Contract& z) {
             z.Open(Text(existing), 0);
             z.ExtractEntryToFile(Text("nope.txt"), Text(m_folder / "out.txt"), false);
         },
         typeid(ArgumentError), "The archive has no entry named 'nope.txt'."},
        {"existing destination without overwrite",
         [&](Contract& z) {
             z.Open(Text(existing), 0);
             z.ExtractEntryToFile(Text("a.txt"), Text(taken), false);
         },
         typeid(IoError), "The file '" + taken + "' already exists."},
        {"folder as destination",
         [&](Contract& z) {
             z.Open(Text(existing), 0);
             z.ExtractEntryToFile(Text("a.txt"), Text(m_folder / "sources"), true);
         },
         typeid(IoError), "'" + (m_folder / "sources") + "' is a directory."},
        {"destination folder missing",
         [&](Contract& z) {
             z.Open(Text(existing), 0);
             z.ExtractEntryToFile(Text("a.txt"), Text(nowhere), false);
         },
         typeid(IoError), "Could not write '" + nowhere + "': No such file or directory."},
        {"folder entry",
         [&](Contract& z) {
             z.Open(Text(withFolder), 0);
             z.ExtractEntryToFile(Text("sub/"), Text(m_folder / "out.txt"), false);
         },
         typeid(ArgumentError), "The entry 'sub/' is a directory, not a file."},
        {"entry added since opening",
         [&](Contract& z) {
             z.Open(Text(existing), 2);
             z.AddFile(Text(source), Text("b.txt"));
             z.ExtractEntryToFile(Text("b.txt"), Text(m_folder / "out.txt"), false);
         },
         typeid(InvalidOperationError),
         "The entry 'b.txt' was added since the archive was opened; close the archive before extracting it."},
    };
    for (const Case& c : cases) Check(c);
    EXPECT_EQ(ReadFile(taken), "precious");
    EXPECT_FALSE(fs::exists(m_folder / "out.txt"));
    EXPECT_EQ(Leftovers({"existing.zip", "folders.zip", "taken.txt", "b.txt", "sources"}), std::vector<std::string>());
}

TEST_F(ZipComponentErrors, GetEntriesAndCloseRaiseWithoutAnOpenArchive) {
    using namespace kiv::runtime;
    const std::string existing = m_folder / "existing.zip";
    ASSERT_NO_FATAL_FAILURE(CreateArchive(existing, {{"a.txt", "alpha"}}));
    const Case cases[] = {
        {"entries, nothing open", [](Contract& z) { z.GetEntries(); }, typeid(InvalidOperationError),
         "No archive is open; call Open first."},
        {"close, nothing open", [](Contract& z) { z.Close(); }, typeid(InvalidOperationError),
         "No archive is open; call Open first."},
        {"entries after close",
         [&](Contract& z) {
             z.Open(Text(existing), 0);
             z.Close();
             z.GetEntries();
         },
         typeid(InvalidOperationError), "No archive is open; call Open first."},
        {"close twice",
         [&](Contract& z) {
             z.Open(Text(existing), 0);
             z.Close();
             z.Close();
         },
         typeid(InvalidOperationError), "No archive is open; call Open first."},
    };
    for (const Case& c : cases) Check(c);
}

}  // namespace
}  // namespace kiv::fld
