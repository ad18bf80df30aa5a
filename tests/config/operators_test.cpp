// The operator lists and the access point that follows the device's operator.
#include "config/operators.h"

#include <gtest/gtest.h>

namespace {

using operators::OperatorSelection;

TEST(Operators, ListsAndDefault) {
    EXPECT_EQ(operators::kDeviceOperators,
              (std::array<std::string_view, 4>{"Билайн", "МТС", "Теле2", "Мегафон"}));
    EXPECT_EQ(operators::kModemOperators,
              (std::array<std::string_view, 3>{"Билайн", "МТС", "Теле2"}));
    EXPECT_EQ(operators::kDeviceOperators[operators::kDefaultIndex], "Теле2");
    EXPECT_EQ(operators::kModemOperators[operators::kDefaultIndex], "Теле2");
}

TEST(Operators, AccessPointOfEachOperator) {
    EXPECT_EQ(operators::accessPointFor(0), "internet.beeline.ru\",\"beeline\",\"beeline");
    EXPECT_EQ(operators::accessPointFor(1), "internet.mts.ru\",\"mts\",\"mts");
    EXPECT_EQ(operators::accessPointFor(2), "internet.tele2.ru");
    EXPECT_EQ(operators::accessPointFor(3), "internet\",\"gdata\",\"gdata");
    EXPECT_EQ(operators::accessPointFor(-1), std::nullopt);
    EXPECT_EQ(operators::accessPointFor(4), std::nullopt);
}

TEST(Operators, AccessPointInTheCommandsQuotes) {
    // The command puts the text between one pair of double quotes: Tele2
    // gives one quoted field, the others three separated by commas.
    for (int index = 0; index < 4; ++index) {
        const std::string quoted = "\"" + *operators::accessPointFor(index) + "\"";
        std::size_t quotes = 0;
        for (char c : quoted) {
            quotes += c == '"';
        }
        EXPECT_EQ(quotes, index == 2 ? 2u : 6u) << quoted;
    }
}

TEST(OperatorSelection, StartsEmptyAndFollowsTheDeviceList) {
    OperatorSelection s;
    EXPECT_EQ(s.deviceApn(), "");
    s.applyStored(2, 2);
    EXPECT_EQ(s.deviceApn(), "internet.tele2.ru");
    EXPECT_EQ(s.deviceIndex(), 2);
    EXPECT_EQ(s.modemIndex(), 2);
    s.Dev_provChange(3);
    EXPECT_EQ(s.deviceApn(), "internet\",\"gdata\",\"gdata");
    // No selection keeps the last access point.
    s.Dev_provChange(-1);
    EXPECT_EQ(s.deviceIndex(), -1);
    EXPECT_EQ(s.deviceApn(), "internet\",\"gdata\",\"gdata");
    // The modem's operator changes nothing but its own index.
    s.Modem_provChange(0);
    EXPECT_EQ(s.modemIndex(), 0);
    EXPECT_EQ(s.deviceApn(), "internet\",\"gdata\",\"gdata");
}

TEST(OperatorSelection, StoredIndexOutsideTheLists) {
    OperatorSelection s;
    s.applyStored(3, 7); // the modem list has no fourth item
    EXPECT_EQ(s.modemIndex(), -1);
    EXPECT_EQ(s.deviceIndex(), -1);
    EXPECT_EQ(s.deviceApn(), "");
    EXPECT_EQ(OperatorSelection::deviceListIndex(3), 3);
    EXPECT_EQ(OperatorSelection::modemListIndex(3), -1);
    EXPECT_EQ(OperatorSelection::deviceListIndex(-5), -1);
}

} // namespace
