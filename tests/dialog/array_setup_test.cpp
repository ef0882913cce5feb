#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "dialog/array_setup.h"
#include "tests/every_model.h"

using dialog::ArraySetup;
using dialog::SetupCell;
using dialog::Step;
using model_test::EveryModel;

namespace {

class SetupRules : public EveryModel {
protected:
    ArraySetup setupWith(std::vector<SetupCell> cells) const {
        ArraySetup setup(model());
        setup.fill(int32_t(cells.size()), cells.data());
        return setup;
    }
};

INSTANTIATE_FOR_EVERY_MODEL(SetupRules);

// n steps of one cell's splay, and the texts it showed on the way.
std::vector<std::string> stepTexts(ArraySetup& setup, int32_t cell, Step step, int n) {
    std::vector<std::string> texts;
    for (int i = 0; i < n; ++i) {
        setup.stepSplay(cell, step);
        texts.push_back(setup.row(cell).splay.text);
    }
    return texts;
}

std::vector<SetupCell> cellsAtZero(int n, int32_t kind) {
    return std::vector<SetupCell>(size_t(n), SetupCell{kind, 0.0f});
}

}  // namespace

TEST_P(SetupRules, FillCopiesTheCountedCellsAndStartsTheRestEmpty) {
    std::vector<SetupCell> source(16, SetupCell{2, 9.0f});  // garbage past the count
    source[0] = {0, 1.5f};
    source[1] = {2, -3.0f};
    ArraySetup setup(model());
    setup.fill(2, source.data());
    EXPECT_EQ(setup.cellCount(), 2);
    EXPECT_EQ(setup.cell(1).splayDeg, 1.5f);
    EXPECT_EQ(setup.cell(2).splayDeg, -3.0f);
    EXPECT_EQ(setup.cell(2).kind, 2);
    for (int32_t n = 3; n <= 16; ++n) {
        EXPECT_EQ(setup.cell(n).splayDeg, 0.0f) << n;
        EXPECT_EQ(setup.cell(n).kind, model().defaultKind) << n;
    }
    // A count outside the table is held to it rather than read past it.
    setup.fill(40, source.data());
    EXPECT_EQ(setup.cellCount(), 16);
    setup.fill(-3, source.data());
    EXPECT_EQ(setup.cellCount(), 0);
}

TEST_P(SetupRules, CountStepsStayWithinFourToSixteen) {
    ArraySetup setup = setupWith(cellsAtZero(4, model().defaultKind));
    setup.stepCount(Step::Down);
    EXPECT_EQ(setup.cellCount(), 4);
    for (int i = 0; i < 12; ++i) setup.stepCount(Step::Up);
    EXPECT_EQ(setup.cellCount(), 16);
    setup.stepCount(Step::Up);
    EXPECT_EQ(setup.cellCount(), 16);
    setup.stepCount(Step::Down);
    EXPECT_EQ(setup.cellCount(), 15);

    // Fewer than 4 cells come only from a stored setup; the first down step
    // raises them to 4, an up step adds one.
    for (int32_t few : {0, 1, 3}) {
        ArraySetup short1 = setupWith(cellsAtZero(few, model().defaultKind));
        short1.stepCount(Step::Down);
        EXPECT_EQ(short1.cellCount(), 4) << few;
        ArraySetup short2 = setupWith(cellsAtZero(few, model().defaultKind));
        short2.stepCount(Step::Up);
        EXPECT_EQ(short2.cellCount(), few + 1) << few;
    }
}

TEST_P(SetupRules, CountUpCopiesTheCellAboveOverWhateverTheSlotHeld) {
    std::vector<SetupCell> cells = cellsAtZero(7, model().defaultKind);
    cells[5] = {2, 4.0f};  // cell 6
    cells[6] = {0, 9.0f};  // cell 7, about to be dropped
    ArraySetup setup = setupWith(cells);
    setup.stepCount(Step::Down);
    EXPECT_EQ(setup.cellCount(), 6);
    EXPECT_EQ(setup.cell(7).splayDeg, 9.0f);  // dropped cells keep their values
    setup.stepCount(Step::Up);
    EXPECT_EQ(setup.cellCount(), 7);
    EXPECT_EQ(setup.cell(7).splayDeg, 4.0f);
    EXPECT_EQ(setup.cell(7).kind, 2);
}

TEST_P(SetupRules, FirstCellAfterNoneStartsEmpty) {
    ArraySetup setup(model());
    setup.fill(0, nullptr);
    setup.stepCount(Step::Up);
    EXPECT_EQ(setup.cellCount(), 1);
    EXPECT_EQ(setup.cell(1).splayDeg, 0.0f);
    EXPECT_EQ(setup.cell(1).kind, model().defaultKind);
    EXPECT_EQ(std::string(setup.row(1).splay.text), "0.0\xB0");
}

TEST_P(SetupRules, SplayLimitsHoldAndNonFiniteValuesReturnToThem) {
    const models::DialogRules& rules = model().dialog;
    ArraySetup setup = setupWith(cellsAtZero(4, model().defaultKind));
    for (int i = 0; i < 40; ++i) {
        setup.stepSplay(1, Step::Up);
        setup.stepSplay(2, Step::Up);
    }
    EXPECT_EQ(setup.cell(1).splayDeg, rules.firstCell.highDeg);
    EXPECT_EQ(setup.cell(2).splayDeg, rules.otherCells.highDeg);
    for (int i = 0; i < 40; ++i) {
        setup.stepSplay(1, Step::Down);
        setup.stepSplay(2, Step::Down);
    }
    EXPECT_EQ(setup.cell(1).splayDeg, rules.firstCell.lowDeg);
    EXPECT_EQ(setup.cell(2).splayDeg, rules.otherCells.lowDeg);
    EXPECT_EQ(setup.cell(3).splayDeg, 0.0f);  // other cells untouched

    const float nan = std::numeric_limits<float>::quiet_NaN();
    ArraySetup broken = setupWith({{0, nan}, {0, nan}, {0, 0.0f}, {0, 0.0f}});
    broken.stepSplay(1, Step::Up);
    broken.stepSplay(2, Step::Down);
    EXPECT_EQ(broken.cell(1).splayDeg, rules.firstCell.highDeg);
    EXPECT_EQ(broken.cell(2).splayDeg, rules.otherCells.lowDeg);
}

TEST(SplaySteps, Ktr4StepsBySinglePrecision1666AndSnapsToWholeDegrees) {
    ArraySetup setup(models::kKtr4);
    const std::vector<SetupCell> cells = cellsAtZero(4, 0);
    setup.fill(4, cells.data());
    setup.stepSplay(2, Step::Up);
    EXPECT_EQ(setup.cell(2).splayDeg, 1.666f);
    EXPECT_NE(setup.cell(2).splayDeg, float(5.0 / 3.0));
    setup.stepSplay(2, Step::Up);
    EXPECT_EQ(setup.cell(2).splayDeg, 1.666f + 1.666f);
    setup.stepSplay(2, Step::Up);
    EXPECT_EQ(setup.cell(2).splayDeg, 5.0f);  // 4.998 snapped
    setup.stepSplay(2, Step::Up);
    setup.stepSplay(2, Step::Up);
    EXPECT_EQ(setup.cell(2).splayDeg, 5.0f + 1.666f + 1.666f);
    setup.stepSplay(2, Step::Up);
    EXPECT_EQ(setup.cell(2).splayDeg, 10.0f);

    ArraySetup again(models::kKtr4);
    again.fill(4, cells.data());
    EXPECT_EQ(stepTexts(again, 3, Step::Up, 7),
              (std::vector<std::string>{"1.7\xB0", "3.3\xB0", "5.0\xB0", "6.7\xB0", "8.3\xB0",
                                        "10.0\xB0", "10.0\xB0"}));
    EXPECT_EQ(stepTexts(again, 4, Step::Down, 1), (std::vector<std::string>{"0.0\xB0"}));
    EXPECT_EQ(stepTexts(again, 1, Step::Down, 4),
              (std::vector<std::string>{"-1.7\xB0", "-3.3\xB0", "-5.0\xB0", "-5.0\xB0"}));
    EXPECT_EQ(again.cell(1).splayDeg, -5.0f);
}

TEST(SplaySteps, Ktr2FirstCellHasItsOwnStepAndLimits) {
    ArraySetup setup(models::kKtr2);
    const std::vector<SetupCell> cells = cellsAtZero(4, 0);
    setup.fill(4, cells.data());
    setup.stepSplay(1, Step::Up);
    EXPECT_EQ(setup.cell(1).splayDeg, 1.5f);
    setup.stepSplay(1, Step::Up);
    EXPECT_EQ(setup.cell(1).splayDeg, 2.8f);

    setup.fill(4, cells.data());
    setup.stepSplay(1, Step::Down);
    EXPECT_EQ(setup.cell(1).splayDeg, -1.3f);
    setup.stepSplay(1, Step::Up);
    EXPECT_EQ(setup.cell(1).splayDeg, -1.3f + 1.5f);
    EXPECT_EQ(std::string(setup.row(1).splay.text), "0.2\xB0");

    EXPECT_EQ(stepTexts(setup, 2, Step::Up, 8),
              (std::vector<std::string>{"1.0\xB0", "2.0\xB0", "3.0\xB0", "4.0\xB0", "5.0\xB0", "6.0\xB0",
                                        "7.0\xB0", "7.0\xB0"}));
}

TEST(SplaySteps, StoredOddValuesSnapOnlyWhereTheModelSnaps) {
    const std::vector<SetupCell> stored = {{1, 0.0f}, {1, 0.02f}, {1, 0.0f}, {1, 0.0f}};
    ArraySetup ktr2(models::kKtr2);
    ktr2.fill(4, stored.data());
    EXPECT_EQ(std::string(ktr2.row(2).splay.text), "0.0\xB0");
    ktr2.stepSplay(2, Step::Up);
    EXPECT_EQ(ktr2.cell(2).splayDeg, 1.0f);  // 1.02 lies within 0.05 of 1

    ArraySetup ktr4(models::kKtr4);
    ktr4.fill(4, stored.data());
    ktr4.stepSplay(2, Step::Up);
    EXPECT_EQ(ktr4.cell(2).splayDeg, 0.02f + 1.666f);  // 1.686 does not

    ArraySetup qspan(models::kQspan);
    qspan.fill(4, stored.data());
    qspan.stepSplay(2, Step::Up);
    EXPECT_EQ(qspan.cell(2).splayDeg, 1.02f);  // no snapping at all
    qspan.stepSplay(2, Step::Up);
    qspan.stepSplay(2, Step::Down);
    EXPECT_EQ(qspan.cell(2).splayDeg, 1.02f + 1.0f - 1.0f);
}

TEST(KindSteps, QspanKindsStayWithinTheirNamesAndLeaveThePreviewAlone) {
    ArraySetup setup(models::kQspan);
    const std::vector<SetupCell> cells = {{2, 1.0f}, {0, 2.0f}, {1, 3.0f}, {1, 0.0f}};
    setup.fill(4, cells.data());
    const dialog::CellOutline before = setup.preview().outline(4);

    setup.stepKind(1, Step::Up);
    EXPECT_EQ(setup.cell(1).kind, 2);
    EXPECT_STREQ(setup.row(1).kindName, "QSC");
    setup.stepKind(2, Step::Down);
    EXPECT_EQ(setup.cell(2).kind, 0);
    EXPECT_STREQ(setup.row(2).kindName, "QSA");
    setup.stepKind(3, Step::Up);
    EXPECT_STREQ(setup.row(3).kindName, "QSC");
    setup.stepKind(3, Step::Down);
    setup.stepKind(3, Step::Down);
    EXPECT_STREQ(setup.row(3).kindName, "QSA");

    EXPECT_EQ(setup.cell(3).splayDeg, 3.0f);
    EXPECT_EQ(setup.preview().outline(4).rearBottom.x, before.rearBottom.x);
    EXPECT_EQ(setup.preview().outline(4).rearBottom.y, before.rearBottom.y);
}

TEST(KindSteps, KindsOutsideTheTableAreNamedUnknownAndStepBackIn) {
    ArraySetup setup(models::kQspan);
    // Far outside, and one past either end of the three names.
    const std::vector<SetupCell> cells = {{7, 0.0f},       {-3, 0.0f}, {INT_MAX, 0.0f},
                                          {INT_MIN, 0.0f}, {3, 0.0f},  {-1, 0.0f}};
    setup.fill(6, cells.data());
    for (int32_t n = 1; n <= 6; ++n) EXPECT_STREQ(setup.row(n).kindName, ArraySetup::kUnknownKindName) << n;
    setup.stepKind(1, Step::Down);
    setup.stepKind(2, Step::Up);
    setup.stepKind(3, Step::Up);
    setup.stepKind(4, Step::Down);
    setup.stepKind(5, Step::Down);
    setup.stepKind(6, Step::Up);
    EXPECT_EQ(setup.cell(1).kind, 2);
    EXPECT_EQ(setup.cell(2).kind, 0);
    EXPECT_EQ(setup.cell(3).kind, 2);
    EXPECT_EQ(setup.cell(4).kind, 0);
    EXPECT_EQ(setup.cell(5).kind, 2);
    EXPECT_EQ(setup.cell(6).kind, 0);
    EXPECT_STREQ(setup.row(5).kindName, "QSC");
    EXPECT_STREQ(setup.row(6).kindName, "QSA");
}

TEST_P(SetupRules, RowsShowTheCountedCellsWithTheirAimAngles) {
    ArraySetup setup = setupWith(cellsAtZero(4, model().defaultKind));
    for (int32_t n = 1; n <= 16; ++n) {
        const dialog::RowView row = setup.row(n);
        EXPECT_EQ(row.visible, n <= 4) << n;
        if (!row.visible) continue;
        // An unsplayed cell's aim angle is a negated zero.
        EXPECT_STREQ(row.splay.text, "0.0\xB0");
        EXPECT_STREQ(row.aim.text, "(-0.0\xB0)");
        EXPECT_EQ(row.kindName == nullptr, !model().cellsCarryKind);
    }
    if (model().cellsCarryKind) {
        EXPECT_STREQ(setup.row(1).kindName, "QSB");
    }

    ArraySetup splayed =
        setupWith({{1, 1.0f}, {1, 2.0f}, {1, 3.0f}, {1, 0.5f}, {1, -1.0f}});
    const char* aims[] = {"(-1.0\xB0)", "(-3.0\xB0)", "(-6.0\xB0)", "(-6.5\xB0)", "(-5.5\xB0)"};
    for (int32_t n = 1; n <= 5; ++n) EXPECT_STREQ(splayed.row(n).aim.text, aims[n - 1]) << n;
    EXPECT_FALSE(splayed.row(6).visible);

    // The aim angles follow every step, not only a new fill.
    splayed.stepSplay(1, Step::Down);
    EXPECT_NEAR(splayed.preview().aimDeg(5), -splayed.cell(1).splayDeg - 4.5f, 1e-4f);
    splayed.stepCount(Step::Up);
    EXPECT_TRUE(splayed.row(6).visible);
    EXPECT_STREQ(splayed.row(6).splay.text, "-1.0\xB0");
}
