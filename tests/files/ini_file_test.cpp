// The profile-file rules of the settings file and of the [Numbers] section of
// configuration files, and saving such files safely.
#include "files/ini_file.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <linux/capability.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// "Сonfig.ini" as the program writes it with every setting at its default.
const std::string kDefaultSettings = "[Config]\r\n"
                                     "Port=COM1\r\n"
                                     "Baudrate=12\r\n"
                                     "Mod_prov=2\r\n"
                                     "Dev_prov=2\r\n"
                                     "Server_port=2020\r\n";

// Code page 1251 bytes of a few Cyrillic names.
const std::string kSettingsUpper = "\xcd\xc0\xd1\xd2\xd0\xce\xc9\xca\xc8"; // НАСТРОЙКИ
const std::string kSettingsLower = "\xed\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8"; // настройки
const std::string kYolkaUpper = "\xa8\xcb\xca\xc0";                        // ЁЛКА
const std::string kYolkaLower = "\xb8\xeb\xea\xe0";                        // ёлка

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/vxrt7-initest-XXXXXX";
        path_ = ::mkdtemp(pattern) ? pattern : "";
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, ec);
        fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path_)) {
            out.push_back(e.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    std::string path_;
};

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Root passes every permission check; for as long as this object lives the
// calling thread gives up the capabilities that let it, so that a read-only
// folder is read-only for it too. Capabilities are per thread on Linux.
class WithoutPermissionOverride {
  public:
    WithoutPermissionOverride() {
        header_ = {_LINUX_CAPABILITY_VERSION_3, 0};
        if (::syscall(SYS_capget, &header_, saved_) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, saved_, sizeof reduced);
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutPermissionOverride() {
        if (active_) {
            ::syscall(SYS_capset, &header_, saved_);
        }
    }

  private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

// ---------------------------------------------------------------- reading

TEST(IniFileRead, SettingsFileWithItsDefaults) {
    const IniFile ini = IniFile::parse(kDefaultSettings);
    EXPECT_EQ(ini.readString("Config", "Port", "x"), "COM1");
    EXPECT_EQ(ini.readInteger("Config", "Baudrate", -1), 12);
    EXPECT_EQ(ini.readInteger("Config", "Mod_prov", -1), 2);
    EXPECT_EQ(ini.readInteger("Config", "Dev_prov", -1), 2);
    EXPECT_EQ(ini.readInteger("Config", "Server_port", -1), 2020);
    EXPECT_EQ(ini.readString("Config", "Missing", "dflt"), "dflt");
    EXPECT_EQ(ini.readInteger("Other", "Port", 77), 77);
    EXPECT_EQ(IniFile().readString("Config", "Port", "COM1"), "COM1");
}

TEST(IniFileRead, NamesMatchWithoutRegardToCaseLatinAndCyrillic) {
    const IniFile ini = IniFile::parse("[CONFIG]\r\nPORT=COM3\r\n[" + kSettingsUpper + "]\r\n" +
                                       kYolkaUpper + "=1\r\nk@=at\r\nK[=bracket\r\n");
    EXPECT_EQ(ini.readString("config", "port", ""), "COM3");
    EXPECT_EQ(ini.readString("Config", "Port", ""), "COM3");
    EXPECT_EQ(ini.readString(kSettingsLower, kYolkaLower, ""), "1");
    // Only letters have cases: "@"/"`" and "["/"{" differ by the same bit as A/a.
    EXPECT_EQ(ini.readString(kSettingsLower, "K@", ""), "at");
    EXPECT_EQ(ini.readString(kSettingsLower, "k`", "none"), "none");
    EXPECT_EQ(ini.readString(kSettingsLower, "k{", "none"), "none");
    EXPECT_EQ(ini.readString(kSettingsLower, "k[", ""), "bracket");
}

TEST(IniFileRead, TheFirstKeyAndTheFirstSectionOfANameCount) {
    const IniFile ini = IniFile::parse("[S]\nk=1\nK=2\n[s]\nk=3\nj=4\n");
    EXPECT_EQ(ini.readString("S", "k", ""), "1");
    EXPECT_EQ(ini.readString("S", "j", "absent"), "absent");
}

TEST(IniFileRead, BlanksAreTrimmedAndOnePairOfQuotesDropped) {
    const IniFile ini = IniFile::parse("[ Numbers ]\r\n"
                                       "  N1  =  +7 900 123 \t\r\n"
                                       "q1=\"  kept blanks  \"\r\n"
                                       "q2='single'\r\n"
                                       "q3=\"unbalanced\r\n"
                                       "q4=\"a\"b\"\r\n"
                                       "q5=\"\"\r\n"
                                       "q6=\"\r\n"
                                       "q7=\"mixed'\r\n"
                                       "q8=\"\"twice\"\"\r\n"
                                       "eq=a=b\r\n");
    EXPECT_EQ(ini.readString("Numbers", "N1", ""), "+7 900 123");
    EXPECT_EQ(ini.readString("Numbers", "q1", ""), "  kept blanks  ");
    EXPECT_EQ(ini.readString("Numbers", "q2", ""), "single");
    EXPECT_EQ(ini.readString("Numbers", "q3", ""), "\"unbalanced");
    EXPECT_EQ(ini.readString("Numbers", "q4", ""), "a\"b");
    EXPECT_EQ(ini.readString("Numbers", "q5", "dflt"), "");
    EXPECT_EQ(ini.readString("Numbers", "q6", ""), "\"");
    EXPECT_EQ(ini.readString("Numbers", "q7", ""), "\"mixed'");
    EXPECT_EQ(ini.readString("Numbers", "q8", ""), "\"twice\"");
    EXPECT_EQ(ini.readString("Numbers", "eq", ""), "a=b");
}

TEST(IniFileRead, AnEmptyValueIsTheEmptyTextNotTheDefault) {
    const IniFile ini = IniFile::parse("[Numbers]\r\nN1=\r\nKv1=   \r\n");
    EXPECT_EQ(ini.readString("Numbers", "N1", "dflt"), "");
    EXPECT_EQ(ini.readString("Numbers", "Kv1", "0"), "");
    EXPECT_EQ(ini.readString("Numbers", "N2", "dflt"), "dflt");
}

TEST(IniFileRead, LfCrLfAndAMissingFinalLineEndReadAlike) {
    for (const std::string text :
         {"[A]\nk=v\nn=5\n", "[A]\r\nk=v\r\nn=5\r\n", "[A]\r\nk=v\nn=5", "[A]\nk=v\r\nn=5\r\n"}) {
        const IniFile ini = IniFile::parse(text);
        EXPECT_EQ(ini.readString("A", "k", ""), "v");
        EXPECT_EQ(ini.readInteger("A", "n", 0), 5);
        EXPECT_EQ(ini.toBytes(), "[A]\r\nk=v\r\nn=5\r\n");
    }
}

TEST(IniFileRead, CommentsAndOtherLinesAreNotPairs) {
    const IniFile ini = IniFile::parse("early=before any section\r\n"
                                       "[A]\r\n"
                                       ";k=commented\r\n"
                                       "   ; j=commented too\r\n"
                                       "just words\r\n"
                                       "=no name\r\n"
                                       "[unclosed\r\n"
                                       "j=real\r\n"
                                       "[B] trailing text\r\n"
                                       "b=1\r\n");
    EXPECT_EQ(ini.readString("A", "k", "none"), "none");
    EXPECT_EQ(ini.readString("A", "j", ""), "real");
    EXPECT_EQ(ini.readString("A", "", "none"), "none");
    EXPECT_EQ(ini.readString("", "early", "none"), "none");
    EXPECT_EQ(ini.readString("B", "b", ""), "1");
}

// ---------------------------------------------------------------- integers

TEST(IniFileInteger, SettingsValuesAsTheProgramReadsThem) {
    const IniFile ini = IniFile::parse("[Config]\r\nBaudrate=268\r\nServer_port=0x7E4\r\n");
    const int baud = ini.readInteger("Config", "Baudrate", 12);
    EXPECT_EQ(baud, 268);
    EXPECT_EQ(baud & 0xFF, 12); // the caller keeps the low 8 bits
    EXPECT_EQ(ini.readInteger("Config", "Server_port", 0), 2020);
}

TEST(IniFileInteger, SignsHexadecimalAndTrailingCharacters) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"0X7e4", 2020},
        {"+15", 15},
        {"-15", -15},
        {"-0x10", -16},
        {"007", 7},
        {"12abc", 12},
        {"0x7E4zz", 2020},
        {"12 34", 12},
        {"0x", 0},
        {"0xg", 0},
        {"0b101", 0},
        {"\"42\"", 42},
        {" 9 ", 9},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"0x7FFFFFFF", INT_MAX},
    };
    for (const auto& [text, expected] : cases) {
        const IniFile ini = IniFile::parse("[A]\nn=" + text + "\n");
        EXPECT_EQ(ini.readInteger("A", "n", -999), expected) << text;
    }
}

TEST(IniFileInteger, AbsentEmptyNonNumericAndOutOfRangeGiveTheDefault) {
    for (const std::string text : {"", "abc", "-", "+", "x12", "- 5", "+-1", "0x80000000",
                                   "2147483648", "-2147483649", "99999999999999999999999"}) {
        const IniFile ini = IniFile::parse("[A]\nn=" + text + "\n");
        EXPECT_EQ(ini.readInteger("A", "n", -999), -999) << "'" << text << "'";
    }
    EXPECT_EQ(IniFile::parse("[A]\n").readInteger("A", "n", 31), 31);
}

// ---------------------------------------------------------------- writing

TEST(IniFileWrite, TheSettingsOfAFirstRunMakeTheDefaultFile) {
    IniFile ini;
    ini.writeString("Config", "Port", "COM1");
    ini.writeInteger("Config", "Baudrate", 12);
    ini.writeInteger("Config", "Mod_prov", 2);
    ini.writeInteger("Config", "Dev_prov", 2);
    ini.writeInteger("Config", "Server_port", 2020);
    EXPECT_EQ(ini.toBytes(), kDefaultSettings);
}

TEST(IniFileWrite, ReplacesInPlaceAndKeepsEveryOtherLine) {
    const std::string before = "; written by hand\r\n"
                               "[Other]\r\n"
                               "Baudrate=99\r\n"
                               "\r\n"
                               "[Config]\r\n"
                               "  BAUDRATE = 5 \r\n"
                               "; the next one is ignored\r\n"
                               "Baudrate=6\r\n"
                               "Unknown=keep\r\n"
                               "\r\n"
                               "[Tail]\r\n"
                               "x=y\r\n";
    IniFile ini = IniFile::parse(before);
    ini.writeInteger("config", "baudrate", 12);
    std::string expected = before;
    expected.replace(expected.find("  BAUDRATE = 5 "), 15, "BAUDRATE=12");
    EXPECT_EQ(ini.toBytes(), expected);
    EXPECT_EQ(ini.readInteger("Config", "Baudrate", 0), 12);
    EXPECT_EQ(ini.readInteger("Other", "Baudrate", 0), 99);
}

TEST(IniFileWrite, AppendsAMissingKeyAtTheEndOfItsSection) {
    IniFile ini = IniFile::parse("[Config]\r\nPort=COM1\r\n;note\r\n\r\n[Tail]\r\nx=y\r\n");
    ini.writeInteger("CONFIG", "Server_port", 2020);
    EXPECT_EQ(ini.toBytes(),
              "[Config]\r\nPort=COM1\r\n;note\r\nServer_port=2020\r\n\r\n[Tail]\r\nx=y\r\n");
}

TEST(IniFileWrite, AppendsAMissingSectionAtTheEnd) {
    IniFile ini = IniFile::parse("[Tail]\nx=y");
    ini.writeString("Config", "Port", "/dev/ttyUSB0");
    EXPECT_EQ(ini.toBytes(), "[Tail]\r\nx=y\r\n\r\n[Config]\r\nPort=/dev/ttyUSB0\r\n");
}

TEST(IniFileWrite, ACyrillicNameInAnotherCaseIsTheSameKey) {
    IniFile ini = IniFile::parse("[" + kSettingsUpper + "]\r\n" + kYolkaUpper + "=1\r\n");
    ini.writeString(kSettingsLower, kYolkaLower, "2");
    EXPECT_EQ(ini.toBytes(), "[" + kSettingsUpper + "]\r\n" + kYolkaUpper + "=2\r\n");
}

TEST(IniFileWrite, RefusesTextThatWouldBreakTheFileAndChangesNothing) {
    IniFile ini = IniFile::parse(kDefaultSettings);
    EXPECT_THROW(ini.writeString("Config", "Port", "COM1\r\nBaudrate=0"), std::invalid_argument);
    EXPECT_THROW(ini.writeString("Config", "Port", "COM1\n"), std::invalid_argument);
    for (const char* key : {"", "  ", "a=b", "[x", ";x", "a\nb"}) {
        EXPECT_THROW(ini.writeString("Config", key, "1"), std::invalid_argument) << key;
    }
    for (const char* section : {"a]b", "a\r\nb"}) {
        EXPECT_THROW(ini.writeString(section, "k", "1"), std::invalid_argument) << section;
    }
    EXPECT_EQ(ini.toBytes(), kDefaultSettings);
}

// ---------------------------------------------------------------- files

TEST(IniFileFiles, SaveAndLoadKeepTheBytes) {
    TempDir dir;
    const std::string path = dir.file("\xd0\xa1onfig.ini"); // Cyrillic Es, as UTF-8
    IniFile ini = IniFile::parse("; comment\n[Config]\nPort=COM1\n");
    ini.writeInteger("Config", "Baudrate", 12);
    IniFileError error;
    ASSERT_TRUE(ini.save(path, &error)) << error.message;
    EXPECT_EQ(fileBytes(path), "; comment\r\n[Config]\r\nPort=COM1\r\nBaudrate=12\r\n");
    const auto loaded = IniFile::load(path, &error);
    ASSERT_TRUE(loaded) << error.message;
    EXPECT_EQ(loaded->toBytes(), ini.toBytes());
    EXPECT_EQ(dir.names(), std::vector<std::string>{"\xd0\xa1onfig.ini"}) << "no temporary left";
}

TEST(IniFileFiles, SavingKeepsTheModeOfTheFileAndWritesThroughALink) {
    TempDir dir;
    const std::string real = dir.file("real.ini");
    const std::string link = dir.file("link.ini");
    writeFile(real, "[A]\r\nk=old\r\n");
    ::chmod(real.c_str(), 0600);
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);

    IniFile ini = IniFile::parse(fileBytes(real));
    ini.writeString("A", "k", "new");
    IniFileError error;
    ASSERT_TRUE(ini.save(link, &error)) << error.message;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fileBytes(real), "[A]\r\nk=new\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(IniFileFiles, LoadingAMissingFileOrAFolderSaysWhichAndWhy) {
    TempDir dir;
    IniFileError error;
    const std::string missing = dir.file("absent.ini");
    EXPECT_FALSE(IniFile::load(missing, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.message.find("Не удается открыть файл"), std::string::npos) << error.message;
    EXPECT_NE(error.message.find(missing), std::string::npos) << error.message;
    EXPECT_NE(error.message.find(std::strerror(ENOENT)), std::string::npos) << error.message;

    error = {};
    EXPECT_FALSE(IniFile::load(dir.path(), &error));
    EXPECT_NE(error.message.find(dir.path()), std::string::npos) << error.message;
    EXPECT_NE(error.message.find("Не удается"), std::string::npos) << error.message;
}

// What is no regular file, or is too large, is refused with the reason, and
// at once: a pipe that nobody writes to must not hold the window up at its
// start (the settings file) waiting for a writer.
TEST(IniFileFiles, LoadingAPipeAFolderOrAHugeFileIsRefusedAtOnce) {
    TempDir dir;
    const std::string pipe = dir.file("Сonfig.ini");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
    auto loading = std::async(std::launch::async, [&] {
        IniFileError error;
        const bool loaded = IniFile::load(pipe, &error).has_value();
        return std::make_pair(loaded, error);
    });
    // A load that waits for a writer is let go, so that the test ends.
    if (loading.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        const int writer = ::open(pipe.c_str(), O_RDWR | O_CLOEXEC);
        loading.wait();
        ::close(writer);
        FAIL() << "loading a pipe waited for a writer";
    }
    const auto [loaded, error] = loading.get();
    EXPECT_FALSE(loaded);
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_EQ(error.message, "Не удается прочитать файл «" + pipe + "»: это не обычный файл");

    IniFileError folder;
    EXPECT_FALSE(IniFile::load(dir.path(), &folder));
    EXPECT_EQ(folder.code, EINVAL);
    EXPECT_EQ(folder.message,
              "Не удается прочитать файл «" + dir.path() + "»: это не обычный файл");

    const std::string huge = dir.file("huge.ini");
    { std::ofstream create(huge); }
    ASSERT_EQ(::truncate(huge.c_str(), 16 * 1024 * 1024 + 1), 0);
    IniFileError tooLarge;
    EXPECT_FALSE(IniFile::load(huge, &tooLarge));
    EXPECT_EQ(tooLarge.code, EFBIG);
    EXPECT_EQ(tooLarge.message, "Не удается прочитать файл «" + huge + "»: файл больше 16 МБ");
    // 16 MB exactly is still read.
    ASSERT_EQ(::truncate(huge.c_str(), 16 * 1024 * 1024), 0);
    EXPECT_TRUE(IniFile::load(huge, &tooLarge)) << tooLarge.message;
}

TEST(IniFileFiles, SavingIntoAReadOnlyFolderFailsAndLeavesTheOldFileAlone) {
    TempDir dir;
    const std::string path = dir.file("settings.ini");
    writeFile(path, kDefaultSettings);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    WithoutPermissionOverride unprivileged;
    {
        const std::string probe = dir.file("probe");
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
            GTEST_SKIP() << "this process can write into a read-only folder";
        }
    }

    IniFile ini = IniFile::parse(kDefaultSettings);
    ini.writeString("Config", "Port", "COM7");
    IniFileError error;
    EXPECT_FALSE(ini.save(path, &error));
    EXPECT_EQ(error.code, EACCES);
    EXPECT_NE(error.message.find("Не удается сохранить файл"), std::string::npos);
    EXPECT_NE(error.message.find(path), std::string::npos) << error.message;
    EXPECT_NE(error.message.find(std::strerror(EACCES)), std::string::npos) << error.message;
    EXPECT_EQ(dir.names(), std::vector<std::string>{"settings.ini"});
    EXPECT_EQ(fileBytes(path), kDefaultSettings);
}

TEST(IniFileFiles, AWriteThatFailsHalfWayLeavesTheOldFileAndNoPartialOne) {
    TempDir dir;
    const std::string path = dir.file("big.ini");
    writeFile(path, kDefaultSettings);
    IniFile ini;
    for (int i = 1; i <= 650; ++i) {
        ini.writeString("Numbers", "N" + std::to_string(i), "89001234567");
    }
    // A file size limit makes the write stop part of the way through.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    IniFileError error;
    const bool saved = ini.save(path, &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_NE(error.message.find(path), std::string::npos) << error.message;
    EXPECT_EQ(fileBytes(path), kDefaultSettings);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"big.ini"});
}

// ---------------------------------------------------------------- any input

TEST(IniFileFuzz, AnyBytesParseRoundTripAndStayWritable) {
    std::mt19937 random(20240601);
    const std::string alphabet =
        std::string("[]=;\r\n \t\"'aAkKsS0x9#", 21) + std::string("\0\xc0\xe0\xa8\xb8\xff", 6);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> length(0, 200);
    const std::vector<std::string> names = {"a", "A", "k", "s", "S", "0", "", "\xc0"};
    for (int round = 0; round < 3000; ++round) {
        std::string input(static_cast<std::size_t>(length(random)), '\0');
        for (char& c : input) {
            c = round % 3 == 0 ? static_cast<char>(anyByte(random)) : alphabet[pick(random)];
        }
        const IniFile ini = IniFile::parse(input);
        const std::string bytes = ini.toBytes();
        const IniFile again = IniFile::parse(bytes);
        ASSERT_EQ(again.toBytes(), bytes) << "round " << round;
        for (const auto& s : names) {
            for (const auto& k : names) {
                ASSERT_EQ(ini.find(s, k), again.find(s, k)) << "round " << round;
                (void)ini.readInteger(s, k, 0);
            }
        }
        // A write lands where a read finds it and disturbs no other key.
        IniFile edited = ini;
        edited.writeString("s", "k", "v9");
        EXPECT_EQ(edited.readString("S", "K", ""), "v9") << "round " << round;
        for (const auto& s : names) {
            for (const auto& k : names) {
                const bool written = (s == "s" || s == "S") && (k == "k" || k == "K");
                if (!written) {
                    ASSERT_EQ(edited.find(s, k), ini.find(s, k)) << "round " << round;
                }
            }
        }
    }
}

} // namespace
