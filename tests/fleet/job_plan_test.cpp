#include "fleet/job_plan.h"

#include "files/config_file.h"
#include "tests/fleet/device_contents.h"
#include "tests/support/full_number_list.h"

#include <gtest/gtest.h>

namespace {

using fleet::JobKind;
using fleet::Plan;

std::string fcdOf(const fleet::DeviceContents& contents) {
    MemoryNumberGrid grid;
    config_file::fillGrid(contents, grid);
    return config_file::encode(contents.block, grid).bytes;
}

std::vector<std::string> numbersOf(const fleet::DeviceContents& c) {
    std::vector<std::string> out;
    for (const auto& row : c.rows) {
        out.push_back(row[0].empty() ? "" : row[0] + "/" + row[1]);
    }
    while (!out.empty() && out.back().empty()) {
        out.pop_back();
    }
    return out;
}

TEST(JobPlan, PushWritesTheFileButKeepsTheDevicesNumberAndPassword) {
    const auto device = deviceContents(7, 4321, {{1, {"9160000001", "1"}}});
    // The file: another device's number and password, other settings, and a
    // list with gaps and empty apartments.
    auto file = deviceContents(12, 1234, {{2, {"9161110002", "2"}}, {5, {"9161110005", ""}}});
    ConfigBlock settings = ConfigBlock::decode(file.block);
    settings.pulseMs = 900;
    settings.relayMode = 3;
    file.block = settings.encode();

    const Plan plan = fleet::planJob({JobKind::Push, fcdOf(file), {}, {}}, device);
    ASSERT_EQ(plan.outcome, Plan::Outcome::Write) << plan.reason;
    const ConfigBlock written = ConfigBlock::decode(plan.target.block);
    EXPECT_EQ(written.deviceNumber, 7);
    EXPECT_EQ(written.password, 4321);
    EXPECT_EQ(written.pulseMs, 900u);
    EXPECT_EQ(written.relayMode, 3);
    // Packed as the device stores them, an empty apartment as 0.
    EXPECT_EQ(numbersOf(plan.target), (std::vector<std::string>{"9161110002/2", "9161110005/0"}));
    // The audit names each change, and not the number or password kept.
    const std::string all = [&] {
        std::string s;
        for (const auto& c : plan.changes) {
            s += c + "\n";
        }
        return s;
    }();
    EXPECT_NE(all.find("Номер 9160000001 удалён (строка 1, кв. 1)"), std::string::npos) << all;
    EXPECT_NE(all.find("Номер 9161110005 добавлен (строка 2, кв. 0)"), std::string::npos) << all;
    EXPECT_EQ(all.find("Номер устройства"), std::string::npos) << all;
    EXPECT_EQ(all.find("Пароль"), std::string::npos) << all;

    // A device that holds it already needs nothing written.
    const Plan again = fleet::planJob({JobKind::Push, fcdOf(file), {}, {}}, plan.target);
    EXPECT_EQ(again.outcome, Plan::Outcome::Nothing);
    EXPECT_TRUE(again.changes.empty());

    // A file that is no .fcd, or whose list the device cannot take.
    const Plan csv = fleet::planJob({JobKind::Push, "14;9161110005\r\n", {}, {}}, device);
    EXPECT_EQ(csv.outcome, Plan::Outcome::Refused);
    EXPECT_FALSE(csv.reason.empty());
    const auto badList = deviceContents(12, 1234, {{3, {"9161110003", "кв. 3"}}});
    const Plan bad = fleet::planJob({JobKind::Push, fcdOf(badList), {}, {}}, device);
    EXPECT_EQ(bad.outcome, Plan::Outcome::Refused);
    EXPECT_NE(bad.reason.find("Строка 3"), std::string::npos) << bad.reason;
}

TEST(JobPlan, AddAndRemoveWorkOnTheListTheDeviceHoldsGapsAndAll) {
    // A list written over the serial link cell by cell may have gaps.
    const auto device = deviceContents(
        7, 4321, {{1, {"9160000001", "1"}}, {4, {"9160000004", "4"}}, {9, {"9160000009", "9"}}});

    const Plan add = fleet::planJob({JobKind::Add, {}, "9161234567", "14"}, device);
    ASSERT_EQ(add.outcome, Plan::Outcome::Write) << add.reason;
    EXPECT_EQ(numbersOf(add.target), (std::vector<std::string>{"9160000001/1", "9160000004/4",
                                                               "9160000009/9", "9161234567/14"}));
    EXPECT_EQ(add.target.block, device.block);

    const Plan dup = fleet::planJob({JobKind::Add, {}, "9160000004", "5"}, device);
    EXPECT_EQ(dup.outcome, Plan::Outcome::Refused);
    EXPECT_EQ(dup.reason, "номер 9160000004 уже есть в приборе (строка 2, кв. 4)");

    fleet::DeviceContents full = deviceContents(7, 4321);
    const MemoryNumberGrid list = fullNumberList();
    for (int r = 1; r <= NumberGrid::kRows; ++r) {
        full.rows[static_cast<std::size_t>(r - 1)] = {list.cell(1, r), list.cell(2, r)};
    }
    const Plan noRoom = fleet::planJob({JobKind::Add, {}, "9169999999", "1"}, full);
    EXPECT_EQ(noRoom.outcome, Plan::Outcome::Refused);
    EXPECT_EQ(noRoom.reason, "список номеров прибора полон: 650 из 650");
    // A number the device cannot take is refused before anything is read.
    EXPECT_TRUE(fleet::requestProblem({JobKind::Add, {}, "9161234567", "сорок"}));
    EXPECT_TRUE(fleet::requestProblem({JobKind::Add, {}, "", "1"}));
    EXPECT_FALSE(fleet::requestProblem({JobKind::Add, {}, "9161234567", ""}));

    const Plan remove = fleet::planJob({JobKind::Remove, {}, "9160000004", {}}, device);
    ASSERT_EQ(remove.outcome, Plan::Outcome::Write);
    EXPECT_EQ(numbersOf(remove.target), (std::vector<std::string>{"9160000001/1", "9160000009/9"}));
    ASSERT_FALSE(remove.changes.empty());
    EXPECT_NE(remove.changes[0].find("9160000004 удалён"), std::string::npos) << remove.changes[0];
    // Removing the last row of a full list frees it.
    const Plan last = fleet::planJob({JobKind::Remove, {}, list.cell(1, 650), {}}, full);
    ASSERT_EQ(last.outcome, Plan::Outcome::Write);
    EXPECT_EQ(numbersOf(last.target).size(), 649u);

    const Plan absent = fleet::planJob({JobKind::Remove, {}, "9165555555", {}}, device);
    EXPECT_EQ(absent.outcome, Plan::Outcome::Nothing);
    EXPECT_EQ(absent.reason, "номера 9165555555 в приборе нет: удалять нечего");
}

TEST(JobPlan, TheReadBackNamesEveryDifference) {
    const auto target =
        deviceContents(7, 4321, {{1, {"9160000001", "1"}}, {2, {"9160000002", "2"}}});
    EXPECT_TRUE(fleet::compareReadBack(target, target).empty());
    auto read = deviceContents(7, 4321, {{1, {"9160000002", "2"}}, {2, {"9160000003", "3"}}});
    ConfigBlock block = ConfigBlock::decode(read.block);
    block.pulseMs = 100;
    read.block = block.encode();
    const auto lines = fleet::compareReadBack(target, read);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Настройка «Импульс»: записано «500 мсек», считано «100 мсек»");
    EXPECT_EQ(lines[1], "Номер 9160000001 записан (строка 1, кв. 1), но не считан");
    EXPECT_EQ(lines[2], "Номер 9160000003 считан (строка 2, кв. 3), но не записывался");
    EXPECT_EQ(lines[3], "Номер 9160000002 записан (строка 2, кв. 2), считан (строка 1, кв. 2)");
}

} // namespace
