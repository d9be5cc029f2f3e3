#include <gtest/gtest.h>

#include "platform/PreferenceKeys.h"
#include "reference/ReferenceTrackManager.h"
#include "support/FakePanels.h"
#include "support/QtTestSupport.h"

namespace korvanta::test {
namespace {

class ReferencePanelTest : public ::testing::Test {
protected:
    void SetUp() override { panels = installFakePanels(); }
    void TearDown() override { drainEvents(); }
    FakePanel* panel() const { return panels->latest(QString::fromLatin1(ReferenceTrackManager::kPanelTitle)); }

    MemoryPreferences store;
    std::shared_ptr<FakePanelFactory> panels;
};

TEST_F(ReferencePanelTest, FirstOpeningIsCentredAndTheFrameIsKeptAsText) {
    ReferenceTrackManager manager(store);
    manager.setIsEnabled(true);
    manager.showReferencePanel();
    ASSERT_TRUE(panel());
    EXPECT_TRUE(manager.isVisible());
    EXPECT_EQ(panel()->options.minimumSize, QSize(350, 180));
    EXPECT_EQ(panel()->frame(), (PanelFrame{545, 360, 350, 180})) << "centred on a 1440 × 900 screen";

    manager.showReferencePanel();
    EXPECT_EQ(panels->made.size(), 1u) << "an open panel is only brought to the front";

    panel()->userMoves({40, 60, 400, 200});
    EXPECT_EQ(store.stringValue(keys::kReferenceTrackWindowPosition), "{{40, 60}, {400, 200}}");
    manager.hideReferencePanel();
    EXPECT_FALSE(manager.isVisible());
    EXPECT_FALSE(manager.isEnabled()) << "hiding switches the reference off";
    manager.showReferencePanel();
    EXPECT_EQ(panel()->frame(), (PanelFrame{40, 60, 400, 200}));

    panel()->userCloses();
    EXPECT_FALSE(manager.isVisible());
    EXPECT_EQ(manager.panel(), nullptr) << "the panel is forgotten";
}

TEST_F(ReferencePanelTest, AnEmptyOrUnreadableStoredFrameCentresThePanel) {
    const PanelFrame screen{0, 0, 1440, 900};
    const PanelFrame current{0, 0, 350, 180};
    EXPECT_EQ(ReferenceTrackManager::restoredPanelFrame(PanelFrame{10, 10, 0, 0}, screen, current),
              (PanelFrame{545, 360, 350, 180}));
    EXPECT_EQ(ReferenceTrackManager::restoredPanelFrame(std::nullopt, PanelFrame{100, 50, 800, 600}, current),
              (PanelFrame{325, 260, 350, 180}));
    EXPECT_EQ(ReferenceTrackManager::restoredPanelFrame(PanelFrame{5, 6, 360, 190}, screen, current),
              (PanelFrame{5, 6, 360, 190}));
    store.setString(keys::kReferenceTrackWindowPosition, "not a frame");
    ReferenceTrackManager manager(store);
    manager.showReferencePanel();
    ASSERT_TRUE(panel());
    EXPECT_EQ(panel()->frame(), (PanelFrame{545, 360, 350, 180}));
}

}  // namespace
}  // namespace korvanta::test
