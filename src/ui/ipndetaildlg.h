// Detail of one rail or bus record, with every name part on its own.
#pragma once

#include <QDialog>

namespace ridelog {

struct HistoryRecord;
struct JourneyTimes;
struct TapTime;
struct NameEntry;
struct StationKey;
class StationNameCache;
class BusStopNameCache;

// Shows a rail record (entry and exit station) or a bus record (one stop). Everything is read
// while the dialog is built; afterwards it holds only the texts of its controls.
class CIpnDetailDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kTemplateId = 132;

    enum ControlId
    {
        IdClose = 1,
        IdCancel = 2,
        IdSerial = 1013,
        IdDate = 1014,
        IdTerminal = 1015,
        IdProcess = 1016,
        IdBalance = 1017,
        IdAmount = 1018,
        IdEntryCode = 1019,
        IdEntryCompany = 1020,
        IdEntryLine = 1021,
        IdEntryStation = 1022,
        IdExitCode = 1023,
        IdExitCompany = 1024,
        IdExitLine = 1025,
        IdExitStation = 1026,
        IdEntryFrame = 1027,
        IdExitFrame = 1028,
        IdEntryCodeLabel = 1029,
        IdEntryCompanyLabel = 1030,
        IdEntryLineLabel = 1031,
        IdEntryStationLabel = 1032,
        IdExitCodeLabel = 1033,
        IdExitCompanyLabel = 1034,
        IdExitLineLabel = 1035,
        IdExitStationLabel = 1036,
        // The gate times, from the gate log: ids beside those of the template.
        IdEntryTimeLabel = 32860,
        IdEntryTime = 32861,
        IdExitTimeLabel = 32862,
        IdExitTime = 32863,
    };

    // times: the journey's gate times (入場時刻, 出場時刻); none for a journey without.
    CIpnDetailDlg(const HistoryRecord& record, StationNameCache& stations,
                  BusStopNameCache& busStops, QWidget* parent = nullptr,
                  const JourneyTimes* times = nullptr);

private:
    // The ids of one station part, entry or exit.
    struct StationPart
    {
        int frame, codeLabel, companyLabel, lineLabel, stationLabel;
        int timeLabel, time;
        int code, company, line, station;
    };
    static const StationPart kEntryPart;
    static const StationPart kExitPart;

    void buildControls();
    static QWidget* buildStationPart(const QString& title, const StationPart& ids);
    void showHead(const HistoryRecord& record);
    void showStation(const StationPart& part, const StationKey& key, StationNameCache& stations);
    void showBusStop(const HistoryRecord& record, BusStopNameCache& busStops);
    void showNamePart(int fieldId, int labelId, const QString& text);
    void showTime(const StationPart& part, const TapTime* time);
};

} // namespace ridelog
