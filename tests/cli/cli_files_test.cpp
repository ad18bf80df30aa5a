// vxrt7-cli run as a child on real files: diff, the number list between
// configuration files and the window's CSV, and every bad input of these.
#include "tests/cli/cli_run.h"

#include "config/config_block.h"
#include "files/config_file.h"
#include "protocol/cp1251.h"

#include <QJsonArray>

namespace {

struct Row {
    int row;
    std::string number;
    std::string apartment;
};

std::string fcd(const ConfigBlock& block, const std::vector<Row>& rows) {
    MemoryNumberGrid grid;
    for (const Row& r : rows) {
        grid.setCell(NumberGrid::kNumberColumn, r.row, r.number);
        grid.setCell(NumberGrid::kApartmentColumn, r.row, r.apartment);
    }
    auto file = config_file::encode(block.encode(), grid);
    EXPECT_TRUE(file.ok());
    return file.bytes;
}

class CliFiles : public ::testing::Test {
  protected:
    QTemporaryDir tmp;
    std::string dir = tmp.path().toStdString();
    std::string path(const std::string& name) const { return dir + "/" + name; }
    CliResult run(const std::vector<std::string>& args) { return runCli(args, dir); }
};

QString q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

TEST_F(CliFiles, DiffNamesSettingsByWindowCaptionsAndNumbersAddedRemovedMoved) {
    ConfigBlock a;
    a.deviceNumber = 1;
    a.password = 1234;
    ConfigBlock b = a;
    b.deviceNumber = 7;
    b.options |= ConfigOption::Mes_in;
    b.keys[1] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
    const std::vector<Row> rowsA{{1, "9161111111", "1"}, {2, "9162222222", "2"},
                                 {3, "9163333333", "3"}, {4, "9164444444", "4"},
                                 {5, "9165555555", "5"}, {6, "9165555555", "5"}};
    const std::vector<Row> rowsB{{1, "9161111111", "1"}, {3, "9163333333", "33"},
                                 {5, "9165555555", "5"}, {6, "9165555555", "5"},
                                 {8, "9164444444", "4"}, {9, "9169999999", "9"}};
    spit(path("a.fcd"), fcd(a, rowsA));
    spit(path("b.fcd"), fcd(b, rowsB));
    // A byte that no page shows still makes two files differ.
    std::string c = fcd(a, rowsA);
    c[27] = 'A';
    spit(path("c.fcd"), c);

    const CliResult same = run({"diff", "a.fcd", "a.fcd"});
    EXPECT_EQ(same.code, 0) << same.err;
    EXPECT_EQ(same.out, "Различий нет\n");

    const CliResult text = run({"diff", "a.fcd", "b.fcd"});
    EXPECT_EQ(text.code, 1) << text.err;
    EXPECT_NE(text.out.find("\n  Номер устройства: «1» → «7»\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\n  перемещён 9164444444: строка 4, кв. 4 → строка 8, кв. 4\n"),
              std::string::npos)
        << text.out;

    const CliResult json = run({"--json", "diff", "a.fcd", "b.fcd"});
    EXPECT_EQ(json.code, 1);
    const QJsonObject d = json.json();
    EXPECT_EQ(d["equal"].toBool(true), false);
    const QJsonArray settings = d["settings"].toArray();
    ASSERT_EQ(settings.size(), 3) << json.out;
    const std::vector<std::array<QString, 3>> expected{
        {q("Номер устройства"), "1", "7"},
        {q("Информировать владельца о изменении состояния — Входа"), q("нет"), q("да")},
        {q("Ключи touch memory, ключ 2"), q("пусто"), "AB8967452301"}};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject s = settings[i].toObject();
        EXPECT_EQ(s["name"].toString(), expected[i][0]);
        EXPECT_EQ(s["first"].toString(), expected[i][1]);
        EXPECT_EQ(s["second"].toString(), expected[i][2]);
    }
    auto entry = [](const QJsonValue& v) {
        const QJsonObject o = v.toObject();
        return o["number"].toString() + "@" + QString::number(o["row"].toInt()) + "/" +
               o["apartment"].toString();
    };
    ASSERT_EQ(d["added"].toArray().size(), 1);
    EXPECT_EQ(entry(d["added"].toArray()[0]), "9169999999@9/9");
    ASSERT_EQ(d["removed"].toArray().size(), 1);
    EXPECT_EQ(entry(d["removed"].toArray()[0]), "9162222222@2/2");
    const QJsonArray moved = d["moved"].toArray();
    ASSERT_EQ(moved.size(), 2) << json.out;
    EXPECT_EQ(moved[0]["number"].toString(), "9163333333");
    EXPECT_EQ(moved[0]["from"]["apartment"].toString(), "3");
    EXPECT_EQ(moved[0]["to"]["apartment"].toString(), "33");
    EXPECT_EQ(moved[1]["from"]["row"].toInt(), 4);
    EXPECT_EQ(moved[1]["to"]["row"].toInt(), 8);

    const CliResult hidden = run({"--json", "diff", "a.fcd", "c.fcd"});
    EXPECT_EQ(hidden.code, 1);
    const QJsonArray bytes = hidden.json()["settings"].toArray();
    ASSERT_EQ(bytes.size(), 1) << hidden.out;
    EXPECT_EQ(bytes[0]["first"].toString(), "27: 00");
    EXPECT_EQ(bytes[0]["second"].toString(), "27: 41");
}

TEST_F(CliFiles, NumbersRoundTripFromTheWindowsCsvThroughAConfigurationFile) {
    ConfigBlock block;
    block.deviceNumber = 42;
    const std::string base = fcd(block, {{1, "9160000000", "7"}});
    spit(path("base.fcd"), base);
    // As the window exports: a repeated apartment written again, "-1" where
    // an empty apartment follows one, a text in code page 1251.
    const std::string csv = "12;9161234567\r\n12;9161234568\r\n-1;89160000001\r\n" +
                            cp1251::fromUtf8("5;Дом 12345678\r\n").bytes;
    spit(path("list.csv"), csv);

    const CliResult imported = run({"numbers", "import", "list.csv", "base.fcd", "-o", "out.fcd"});
    ASSERT_EQ(imported.code, 0) << imported.err;
    EXPECT_EQ(imported.out, "Импорт из CSV: импортировано номеров: 4 (со строки 2), пропущено "
                            "строк короче 8 символов: 0; из них не похожи на номер телефона (не "
                            "8–11 цифр, «+» в начале можно): 1, первый — в строке 4 «Дом "
                            "12345678»\nЗаписан файл «out.fcd»\n");
    EXPECT_EQ(slurp(path("base.fcd")), base);
    config_file::DecodeError why;
    const auto out = config_file::decode(slurp(path("out.fcd")), &why);
    ASSERT_TRUE(out) << why.reason;
    EXPECT_EQ(ConfigBlock::decode(out->block), block);
    EXPECT_EQ(out->rows[3], (std::array<std::string, 2>{"89160000001", ""}));
    EXPECT_EQ(out->rows[4], (std::array<std::string, 2>{"Дом 12345678", "5"}));
    EXPECT_EQ(out->rows[5], (std::array<std::string, 2>{"", ""}));

    const CliResult exported = run({"--json", "numbers", "export", "out.fcd", "-o", "back.csv"});
    ASSERT_EQ(exported.code, 0) << exported.err;
    EXPECT_EQ(exported.json()["rows"].toInt(), 5);
    EXPECT_EQ(slurp(path("back.csv")), "7;9160000000\r\n" + csv);

    // Without -o the configuration file itself is replaced.
    spit(path("more.csv"), "3;9167777777\n;1234567\n");
    const CliResult inPlace = run({"--json", "numbers", "import", "more.csv", "out.fcd"});
    ASSERT_EQ(inPlace.code, 0) << inPlace.err;
    const QJsonObject r = inPlace.json();
    EXPECT_EQ(r["imported"].toInt(), 1);
    EXPECT_EQ(r["firstRow"].toInt(), 6);
    EXPECT_EQ(r["skippedShort"].toInt(), 1);
    const auto again = config_file::decode(slurp(path("out.fcd")), &why);
    ASSERT_TRUE(again) << why.reason;
    EXPECT_EQ(again->rows[5], (std::array<std::string, 2>{"9167777777", "3"}));
}

TEST_F(CliFiles, ImportSaysWhatItTookAndReadsUtf8OnlyAfterItsMark) {
    spit(path("base.fcd"), fcd(ConfigBlock{}, {{1, "9160000000", "7"}}));
    // A spreadsheet's "CSV UTF-8": its mark, a name for a number, a line with
    // a zero byte, an apartment beyond what the list can hold later on.
    using namespace std::string_literals;
    spit(path("utf8.csv"), "\xEF\xBB\xBF"
                           "12;9161234567\r\n"
                           "13;Иванов Пётр\r\n"
                           "14;91612\0"
                           "34568\r\n"
                           "15;+79161234569\r\n"s);
    CliResult r = run({"--json", "numbers", "import", "utf8.csv", "base.fcd", "-o", "out.fcd"});
    ASSERT_EQ(r.code, 0) << r.err;
    QJsonObject doc = r.json();
    EXPECT_EQ(doc["imported"].toInt(), 3);
    EXPECT_EQ(doc["notPhoneNumbers"].toInt(), 1);
    EXPECT_EQ(doc["firstNotPhoneLine"].toInt(), 2);
    EXPECT_EQ(doc["invalidLines"].toInt(), 1);
    EXPECT_EQ(doc["firstInvalidLine"].toInt(), 3);
    EXPECT_TRUE(doc["utf8"].toBool());
    config_file::DecodeError why;
    const auto out = config_file::decode(slurp(path("out.fcd")), &why);
    ASSERT_TRUE(out) << why.reason;
    EXPECT_EQ(out->rows[2], (std::array<std::string, 2>{"Иванов Пётр", "13"}));
    EXPECT_EQ(out->rows[3], (std::array<std::string, 2>{"+79161234569", "15"}));
    // The text verdict is the one line the window logs.
    r = run({"numbers", "import", "utf8.csv", "base.fcd", "-o", "out2.fcd"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Импорт из CSV: импортировано номеров: 3 (со строки 2), пропущено строк "
                     "короче 8 символов: 0; из них не похожи на номер телефона (не 8–11 цифр, "
                     "«+» в начале можно): 1, первый — в строке 2 «Иванов Пётр»; пропущено "
                     "недопустимых строк: 1, первая — строка 3 (нулевой байт)\n"
                     "Записан файл «out2.fcd»\n");

    // The same file without its mark, and an apartment beyond 65535: exit 2,
    // nothing written.
    spit(path("nomark.csv"), slurp(path("utf8.csv")).substr(3));
    spit(path("big.csv"), "1;9161234567\r\n70000;9161234568\r\n");
    for (const auto& [csv, words] : std::vector<std::pair<std::string, std::string>>{
             {"nomark.csv", "Файл CSV, похоже, в кодировке UTF-8 (строка 2: «13;Иванов Пётр»)"},
             {"big.csv", "Строка 2 файла CSV: «70000» не является номером квартиры (допустимы "
                         "числа от 0 до 65535). Импорт остановлен"}}) {
        r = run({"numbers", "import", csv, "base.fcd", "-o", "refused.fcd"});
        EXPECT_EQ(r.code, 2) << csv;
        EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Файл «refused.fcd» не записан."), std::string::npos) << r.err;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(path("refused.fcd"))));
    }
}

TEST_F(CliFiles, BadInputGetsARussianMessageAndExitCode2AndChangesNoFile) {
    const std::string good = fcd(ConfigBlock{}, {{1, "9160000000", "7"}});
    spit(path("good.fcd"), good);
    std::vector<Row> all;
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        all.push_back({row, "91600" + std::to_string(10000 + row), "1"});
    }
    spit(path("full.fcd"), fcd(ConfigBlock{}, all));
    spit(path("short.fcd"), fcd(ConfigBlock{}, {{1, "123", ""}}));
    spit(path("list.csv"), "12;9161234567\r\n");
    // The whole list with its last row cut off in its number.
    const std::string whole = fcd(ConfigBlock{}, all);
    spit(path("cut.fcd"), whole.substr(0, whole.rfind("N650=") + 7));
    spit(path("captions.csv"),
         cp1251::fromUtf8("Квартира;Номер телефона\r\n12;9161234567\r\n").bytes);
    ASSERT_TRUE(QDir(tmp.path()).mkdir("folder.fcd"));

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases{
        {{"diff", "good.fcd", "missing.fcd"},
         "Не удается открыть файл «missing.fcd»: файл или папка не найдены"},
        {{"diff", "list.csv", "good.fcd"},
         "Файл «list.csv» не является файлом конфигурации: файл слишком короткий"},
        {{"diff", "folder.fcd", "good.fcd"}, "Не удается открыть файл «folder.fcd»"},
        {{"diff", "good.fcd"}, "нужны два файла конфигурации. Справка: vxrt7-cli diff --help"},
        {{"diff", "-x", "good.fcd", "good.fcd"}, "неизвестный параметр «-x»"},
        {{"frobnicate"}, "неизвестная команда «frobnicate». Справка: vxrt7-cli --help"},
        {{}, "не указана команда"},
        {{"numbers", "rename"}, "неизвестное действие «rename»"},
        {{"numbers", "export", "good.fcd"}, "нужен файл CSV: -o ФАЙЛ.csv"},
        {{"numbers", "export", "good.fcd", "-o"}, "после -o нужно значение"},
        {{"numbers", "export", "good.fcd", "-o", "no-such-folder/x.csv"},
         "Не удается сохранить файл «no-such-folder/x.csv»: файл или папка не найдены"},
        {{"numbers", "export", "short.fcd", "-o", "short.csv"},
         "Строка 1 списка номеров: номер «123» короче 8 символов"},
        {{"numbers", "import", "missing.csv", "good.fcd", "-o", "new.fcd"},
         "Не удается открыть файл «missing.csv»"},
        {{"numbers", "import", "captions.csv", "good.fcd", "-o", "new.fcd"},
         "Строка 1 файла CSV: «Квартира» не является целым числом"},
        {{"numbers", "import", "list.csv", "full.fcd", "-o", "new.fcd"},
         "все 650 строк списка номеров заняты, номера некуда записать. Файл «new.fcd» не "
         "записан."},
        {{"numbers", "import", "list.csv", "list.csv"}, "не является файлом конфигурации"},
        {{"diff", "good.fcd", "cut.fcd"},
         "Файл «cut.fcd» неполный: обрывается после строки 649 из 650 списка номеров."},
        {{"numbers", "import", "list.csv", "cut.fcd", "-o", "new.fcd"},
         "Файл «cut.fcd» неполный: обрывается после строки 649 из 650 списка номеров."},
        {{"numbers", "import", "list.csv", "cut.fcd"},
         "Файл «cut.fcd» неполный: обрывается после строки 649 из 650 списка номеров."},
        {{"numbers", "export", "cut.fcd", "-o", "short.csv"}, "Файл «cut.fcd» неполный"},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& a : c.args) {
            joined += a + " ";
        }
        SCOPED_TRACE(joined);
        const CliResult text = run(c.args);
        EXPECT_EQ(text.code, 2);
        EXPECT_EQ(text.out, "");
        EXPECT_NE(text.err.find(c.message), std::string::npos) << text.err;
        std::vector<std::string> withJson{"--json"};
        withJson.insert(withJson.end(), c.args.begin(), c.args.end());
        const CliResult json = run(withJson);
        EXPECT_EQ(json.code, 2);
        const QJsonObject doc = json.json();
        EXPECT_EQ(doc["exitCode"].toInt(), 2);
        EXPECT_TRUE(doc["error"].toString().contains(QString::fromStdString(c.message)))
            << json.out;
    }
    // Nothing was written or replaced.
    EXPECT_EQ(slurp(path("good.fcd")), good);
    EXPECT_EQ(slurp(path("list.csv")), "12;9161234567\r\n");
    EXPECT_EQ(slurp(path("cut.fcd")), whole.substr(0, whole.rfind("N650=") + 7));
    for (const char* name : {"new.fcd", "short.csv"}) {
        EXPECT_FALSE(QFile::exists(QString::fromStdString(path(name)))) << name;
    }
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).size(), 8)
        << QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString();

    // A name with a control character, a quote and bytes that are not UTF-8
    // still gives valid JSON: escaped, and the stray byte replaced (a lenient
    // parser would take either raw, so the bytes are checked as well).
    const std::string odd = "bad\x01\"\xff.fcd";
    const CliResult json = run({"--json", "diff", odd, "good.fcd"});
    EXPECT_EQ(json.code, 2);
    EXPECT_NE(json.out.find(R"(«bad\u0001\")"
                            "\xEF\xBF\xBD"
                            ".fcd»"),
              std::string::npos)
        << json.out;
    EXPECT_EQ(json.out.find_first_of(std::string("\x01\xff", 2)), std::string::npos);
    EXPECT_TRUE(
        json.json()["error"].toString().contains(QString::fromUtf8("«bad\x01\"\xEF\xBF\xBD.fcd»")))
        << json.out;
}
