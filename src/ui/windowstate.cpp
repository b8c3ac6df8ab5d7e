#include "ui/windowstate.h"

#include "store/settings.h"

#include <algorithm>

namespace ridelog {

namespace {

QString columnValueName(int column)
{
    return QStringLiteral("col%1").arg(column);
}

int minimumColumnWidth(int column)
{
    return column == 0 ? 10 : 30;
}

} // namespace

StoredPlacement readStoredPlacement(const TrfcSettings& settings)
{
    StoredPlacement placement;
    placement.x = settings.integer(QStringLiteral("mX"), kDefaultWindowX);
    placement.y = settings.integer(QStringLiteral("mY"), kDefaultWindowY);
    placement.width = settings.integer(QStringLiteral("mWidth"), kDefaultWindowWidth);
    placement.height = settings.integer(QStringLiteral("mHeight"), kDefaultWindowHeight);
    return placement;
}

void writeStoredPlacement(TrfcSettings& settings, const StoredPlacement& placement)
{
    settings.writeInteger(QStringLiteral("mX"), placement.x);
    settings.writeInteger(QStringLiteral("mY"), placement.y);
    settings.writeInteger(QStringLiteral("mWidth"), placement.width);
    settings.writeInteger(QStringLiteral("mHeight"), placement.height);
}

QRect restoredWindowRect(const StoredPlacement& stored, const QRect& workArea, int statusBarHeight)
{
    // Right and bottom edges as the window system counts them: one past the last pixel.
    const int right = workArea.x() + workArea.width();
    const int bottom = workArea.y() + workArea.height();
    int x = stored.x;
    int y = stored.y;
    int w = stored.width;
    int h = stored.height;
    if (x > right)
        x = kDefaultWindowX;
    if (y > bottom)
        y = kDefaultWindowY;
    if (w > right)
        w = right - x;
    if (h > bottom)
        h = bottom - y;
    if (w < kMinimumWindowWidth) {
        x = kDefaultWindowX;
        w = kMinimumWindowWidth;
    }
    if (h < kMinimumWindowHeight) {
        y = kDefaultWindowY;
        h = kMinimumWindowHeight;
    }
    return QRect(x, y, w, h - statusBarHeight);
}

namespace {

constexpr int kTitleStripHeight = 30;
constexpr int kTitleStripMinimumWidth = 50;

} // namespace

bool isOnAScreen(const QRect& window, const std::vector<QRect>& screens)
{
    const QRect strip(window.x(), window.y(), window.width(), kTitleStripHeight);
    for (const QRect& screen : screens) {
        const QRect shown = strip.intersected(screen);
        if (shown.width() >= std::min(kTitleStripMinimumWidth, window.width()) &&
            shown.height() > 0)
            return true;
    }
    return false;
}

QPoint positionOnNearestScreen(const QRect& window, const std::vector<QRect>& screens)
{
    if (screens.empty() || isOnAScreen(window, screens))
        return window.topLeft();
    const QRect* nearest = &screens.front();
    qint64 best = -1;
    for (const QRect& screen : screens) {
        const QPoint d = screen.center() - window.center();
        const qint64 distance = qint64(d.x()) * d.x() + qint64(d.y()) * d.y();
        if (best < 0 || distance < best) {
            best = distance;
            nearest = &screen;
        }
    }
    const int x = std::max(
        nearest->left(), std::min(window.x(), nearest->left() + nearest->width() - window.width()));
    const int y = std::max(
        nearest->top(), std::min(window.y(), nearest->top() + nearest->height() - window.height()));
    return QPoint(x, y);
}

bool isKeepablePosition(const QRect& window, const std::vector<QRect>& screens,
                        bool platformKnowsPositions)
{
    return platformKnowsPositions && isOnAScreen(window, screens);
}

ColumnWidths defaultColumnWidths()
{
    return {35, 80, 80, 80, 80, 80, 80};
}

int acceptedColumnWidth(int column, std::optional<int> stored, int listClientWidth,
                        const ColumnWidths& defaults)
{
    const int limit = listClientWidth * 9 / 10;
    if (!stored || *stored < minimumColumnWidth(column) || *stored > limit)
        return defaults[std::size_t(column)];
    return *stored;
}

ColumnWidths readColumnWidths(const TrfcSettings& settings, int listClientWidth,
                              const ColumnWidths& defaults)
{
    ColumnWidths widths{};
    for (int column = 0; column < kHistoryColumns; ++column) {
        widths[std::size_t(column)] = acceptedColumnWidth(
            column, settings.readInteger(columnValueName(column)), listClientWidth, defaults);
    }
    return widths;
}

void writeColumnWidths(TrfcSettings& settings, const ColumnWidths& widths)
{
    for (int column = 0; column < kHistoryColumns; ++column)
        settings.writeInteger(columnValueName(column), widths[std::size_t(column)]);
}

} // namespace ridelog
