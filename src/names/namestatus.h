// What a name refresh tells the user: a short Japanese text for status-bar pane 0 after the
// card identifier, and the technical details and the source of the names for its tooltip.
#pragma once

#include "names/nameexchange.h"

#include <QString>
#include <QUrl>

namespace ridelog {

struct NameOutcome
{
    enum class Kind
    {
        NothingToAsk,       // every name was known: "OK"
        Answered,           // the chosen source answered: "ok"
        FellBack,           // the server could not be reached; the built-in names answered
        Unreachable,        // the server could not be reached, and no built-in names either
        NoAnswer,           // the server was reached but did not answer in time
        HttpError,          // the server answered with a status other than 200
        CutOff,             // the answer was too large and was read only in part
        NetworkError,       // any other failure of a reached server
        BuiltinUnavailable, // the built-in names were asked and are missing or damaged
    };

    Kind kind = Kind::Answered;
    QString technical;   // the result text of the exchange (English, the network library's)
    QString builtinText; // why the built-in names could not answer, when they could not
    bool fromBuiltin = false;
    QUrl server;
    QString builtinPath;
};

// Classifies a server exchange that is not followed by the built-in names.
NameOutcome::Kind outcomeKindOf(const NameExchangeResult& result);

// Pane 0: "<idm> ok", "<idm> OK", or "<idm> " and one of the Japanese texts.
QString nameStatusText(const QString& idmText, const NameOutcome& outcome);
// The technical text of a failure and where the names came from.
QString nameStatusToolTip(const NameOutcome& outcome);

} // namespace ridelog
