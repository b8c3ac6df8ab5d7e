// Window placement and column widths kept between runs.
#pragma once

#include <QPoint>
#include <QRect>
#include <array>
#include <optional>
#include <vector>

namespace ridelog {

class TrfcSettings;

constexpr int kDefaultWindowX = 20;
constexpr int kDefaultWindowY = 20;
constexpr int kDefaultWindowWidth = 540;
constexpr int kDefaultWindowHeight = 300;
constexpr int kMinimumWindowWidth = 450;
constexpr int kMinimumWindowHeight = 200;

// The window as stored: "mHeight" includes the status bar's height.
struct StoredPlacement
{
    int x = kDefaultWindowX;
    int y = kDefaultWindowY;
    int width = kDefaultWindowWidth;
    int height = kDefaultWindowHeight;
};

StoredPlacement readStoredPlacement(const TrfcSettings& settings);
void writeStoredPlacement(TrfcSettings& settings, const StoredPlacement& placement);

// Pulls a stored placement back into the work area (right and bottom edges only) and to the
// minimum size; the result is the window's rectangle, its height without the status bar.
QRect restoredWindowRect(const StoredPlacement& stored, const QRect& workArea, int statusBarHeight);

// Whether the window's position can be shown on one of the screens: its title strip (the top
// 30 pixels, at least 50 of them wide) lies on one.
bool isOnAScreen(const QRect& window, const std::vector<QRect>& screens);
// A window off every screen, moved onto the nearest one (by the distance of the centres) and
// kept inside it as far as its size allows; a window on a screen stays where it is.
QPoint positionOnNearestScreen(const QRect& window, const std::vector<QRect>& screens);
// Whether a position read from the window is worth keeping: the platform must know where its
// windows are (Wayland does not tell) and the position must lie on a screen.
bool isKeepablePosition(const QRect& window, const std::vector<QRect>& screens,
                        bool platformKnowsPositions);

constexpr int kHistoryColumns = 7;
using ColumnWidths = std::array<int, kHistoryColumns>;

// 35, 80, 80, 80, 80, 80, 80: the widths of a list that cannot measure its content.
ColumnWidths defaultColumnWidths();
// Column 0 accepts 10 and more, the others 30 and more, all up to 9/10 of the list width; a
// width missing or not accepted gives the column's default.
int acceptedColumnWidth(int column, std::optional<int> stored, int listClientWidth,
                        const ColumnWidths& defaults = defaultColumnWidths());
ColumnWidths readColumnWidths(const TrfcSettings& settings, int listClientWidth,
                              const ColumnWidths& defaults = defaultColumnWidths());
void writeColumnWidths(TrfcSettings& settings, const ColumnWidths& widths);

} // namespace ridelog
