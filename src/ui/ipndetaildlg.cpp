#include "ui/ipndetaildlg.h"

#include "card/gatelog.h"
#include "card/history.h"
#include "namedata/namecache.h"
#include "ui/controlid.h"
#include "ui/detailform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace ridelog {

using namespace detailform;

const CIpnDetailDlg::StationPart CIpnDetailDlg::kEntryPart{
    IdEntryFrame,        IdEntryCodeLabel, IdEntryCompanyLabel, IdEntryLineLabel,
    IdEntryStationLabel, IdEntryTimeLabel, IdEntryTime,         IdEntryCode,
    IdEntryCompany,      IdEntryLine,      IdEntryStation};
const CIpnDetailDlg::StationPart CIpnDetailDlg::kExitPart{
    IdExitFrame,        IdExitCodeLabel, IdExitCompanyLabel, IdExitLineLabel,
    IdExitStationLabel, IdExitTimeLabel, IdExitTime,         IdExitCode,
    IdExitCompany,      IdExitLine,      IdExitStation};

namespace {

constexpr auto kRight = Qt::AlignRight | Qt::AlignVCenter;

// A label, a field and an optional unit in one row of the head grid.
void addHeadRow(QGridLayout* grid, int row, int column, const QString& labelText, QWidget* value,
                const QString& unit = QString())
{
    grid->addWidget(label(labelText), row, column);
    grid->addWidget(value, row, column + 1);
    if (!unit.isEmpty())
        grid->addWidget(label(unit), row, column + 2);
}

QString codeText(const StationKey& key)
{
    return QStringLiteral("( %1, %2, %3 )").arg(key.ac).arg(key.lc).arg(key.sc);
}

QString codeText(const BusStopKey& key)
{
    return QStringLiteral("( %1, %2 )").arg(key.ac).arg(key.lc);
}

} // namespace

CIpnDetailDlg::CIpnDetailDlg(const HistoryRecord& record, StationNameCache& stations,
                             BusStopNameCache& busStops, QWidget* parent, const JourneyTimes* times)
    : QDialog(parent)
{
    setWindowTitle(tr("鉄道・地下鉄駅 詳細"));
    buildControls();
    showHead(record);
    if (record.kind == RecordKind::Rail) {
        showStation(kEntryPart, record.entryKey, stations);
        showStation(kExitPart, record.exitKey, stations);
        showTime(kEntryPart, times ? &times->entry : nullptr);
        showTime(kExitPart, times ? &times->exit : nullptr);
    } else if (record.kind == RecordKind::Bus) {
        showBusStop(record, busStops);
    }
}

void CIpnDetailDlg::buildControls()
{
    auto* layout = new QVBoxLayout(this);

    auto* head = new QGridLayout;
    head->addWidget(label(QStringLiteral("#:"), IdSerial), 0, 0, 1, 2);
    addHeadRow(head, 1, 0, tr("日付："), field(IdDate, Qt::AlignCenter));
    addHeadRow(head, 2, 0, tr("端末："), field(IdTerminal));
    addHeadRow(head, 3, 0, tr("処理："), field(IdProcess));
    addHeadRow(head, 2, 3, tr("支払額："), field(IdAmount, kRight), tr("円"));
    addHeadRow(head, 3, 3, tr("残額："), field(IdBalance, kRight), tr("円"));
    layout->addLayout(head);

    auto* parts = new QHBoxLayout;
    parts->addWidget(buildStationPart(tr("入場駅"), kEntryPart));
    parts->addWidget(buildStationPart(tr("出場駅"), kExitPart));
    layout->addLayout(parts);

    layout->addLayout(closeButtons(this));
}

QWidget* CIpnDetailDlg::buildStationPart(const QString& title, const StationPart& ids)
{
    FramedPart part(title, ids.frame);
    part.addRow(0, label(tr("コード："), ids.codeLabel), field(ids.code));
    part.addRow(1, label(tr("会社名："), ids.companyLabel), field(ids.company));
    part.addRow(2, label(tr("線区名："), ids.lineLabel), field(ids.line));
    part.addRow(3, label(tr("駅名："), ids.stationLabel), field(ids.station));
    const QString timeLabel = ids.frame == IdEntryFrame ? tr("入場時刻：") : tr("出場時刻：");
    part.addRow(4, label(timeLabel, ids.timeLabel), field(ids.time, Qt::AlignCenter));
    part.finish(5);
    return part.widget();
}

void CIpnDetailDlg::showHead(const HistoryRecord& record)
{
    setControlText(this, IdSerial, QStringLiteral("#: %1").arg(record.serial));
    setControlText(this, IdDate, record.dateText);
    setControlText(this, IdTerminal, terminalTypeName(record.terminalType));
    setControlText(this, IdProcess, processTypeName(record.processType));
    setControlText(this, IdAmount, QString::number(record.amount));
    setControlText(this, IdBalance, QString::number(record.balance));
}

void CIpnDetailDlg::showStation(const StationPart& part, const StationKey& key,
                                StationNameCache& stations)
{
    if (key.isNone()) {
        disableControls(this, {part.frame, part.codeLabel, part.companyLabel, part.lineLabel,
                               part.stationLabel, part.company, part.line, part.station});
        return;
    }
    setControlText(this, part.code, codeText(key));
    const NameEntry& names = stations.EntryFor(key);
    showNamePart(part.company, part.companyLabel, names.an);
    showNamePart(part.line, part.lineLabel,
                 names.ln.isEmpty() ? QString() : names.ln + QStringLiteral("線"));
    showNamePart(part.station, part.stationLabel, names.sn);
}

void CIpnDetailDlg::showBusStop(const HistoryRecord& record, BusStopNameCache& busStops)
{
    setWindowTitle(tr("バス停留所 詳細"));
    setControlText(this, IdEntryLineLabel, tr("路線名："));
    setControlText(this, IdEntryStationLabel, tr("停留所："));
    if (record.busKey.isNone()) {
        disableControls(this,
                        {IdEntryFrame, IdEntryCodeLabel, IdEntryCompanyLabel, IdEntryLineLabel,
                         IdEntryStationLabel, IdEntryCompany, IdEntryLine, IdEntryStation});
    } else {
        setControlText(this, IdEntryCode, codeText(record.busKey));
        const NameEntry& names = busStops.EntryFor(record.busKey);
        showNamePart(IdEntryCompany, IdEntryCompanyLabel, names.an);
        showNamePart(IdEntryLine, IdEntryLineLabel, names.sn);       // route
        showNamePart(IdEntryStation, IdEntryStationLabel, names.ln); // stop
    }
    // A bus has one stop and no gate: neither the exit part nor a gate time is shown.
    hideControls(this, {IdExitFrame, IdExitCodeLabel, IdExitCompanyLabel, IdExitLineLabel,
                        IdExitStationLabel, IdExitCode, IdExitCompany, IdExitLine, IdExitStation,
                        IdExitTimeLabel, IdExitTime, IdEntryTimeLabel, IdEntryTime});
}

// The gate time of the part; an unknown time leaves its field empty and disabled.
void CIpnDetailDlg::showTime(const StationPart& part, const TapTime* time)
{
    if (time && time->known())
        setControlText(this, part.time, time->text());
    else
        disableControls(this, {part.time, part.timeLabel});
}

void CIpnDetailDlg::showNamePart(int fieldId, int labelId, const QString& text)
{
    if (text.isEmpty())
        disableControls(this, {fieldId, labelId});
    else
        setControlText(this, fieldId, text);
}

} // namespace ridelog
