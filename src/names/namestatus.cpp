#include "names/namestatus.h"

#include <QCoreApplication>
#include <QStringList>

namespace ridelog {

namespace {

QString sourceLine(const NameOutcome& outcome)
{
    if (outcome.fromBuiltin)
        return QCoreApplication::translate("NameStatus", "名前の出所: 内蔵の駅名データ (%1)")
            .arg(outcome.builtinPath);
    return QCoreApplication::translate("NameStatus", "名前の出所: 駅名サーバー %1")
        .arg(outcome.server.toString(QUrl::RemoveUserInfo));
}

QString japaneseText(const NameOutcome& outcome)
{
    using Kind = NameOutcome::Kind;
    switch (outcome.kind) {
    case Kind::NothingToAsk:
        return QStringLiteral("OK");
    case Kind::Answered:
        return QStringLiteral("ok");
    case Kind::FellBack:
        return QCoreApplication::translate("NameStatus", "内蔵の駅名を使用 (駅名サーバー不通)");
    case Kind::Unreachable:
        return QCoreApplication::translate("NameStatus", "駅名サーバーに接続できません");
    case Kind::NoAnswer:
        return QCoreApplication::translate("NameStatus", "駅名サーバーが応答しません");
    case Kind::HttpError:
        return QCoreApplication::translate("NameStatus", "駅名サーバーのエラー (%1)")
            .arg(outcome.technical);
    case Kind::CutOff:
        return QCoreApplication::translate("NameStatus", "駅名サーバーの応答が大きすぎます");
    case Kind::NetworkError:
        return QCoreApplication::translate("NameStatus", "駅名サーバーとの通信に失敗しました");
    case Kind::BuiltinUnavailable:
        return QCoreApplication::translate("NameStatus", "内蔵の駅名データを読めません");
    }
    return outcome.technical;
}

} // namespace

NameOutcome::Kind outcomeKindOf(const NameExchangeResult& result)
{
    using Kind = NameOutcome::Kind;
    switch (result.failureKind) {
    case NameFailureKind::Unreachable:
        return Kind::Unreachable;
    case NameFailureKind::NoAnswer:
        return Kind::NoAnswer;
    case NameFailureKind::Network:
        return Kind::NetworkError;
    case NameFailureKind::None:
        break;
    }
    if (result.httpStatus != 200)
        return Kind::HttpError;
    return result.cutOff ? Kind::CutOff : Kind::Answered;
}

QString nameStatusText(const QString& idmText, const NameOutcome& outcome)
{
    return idmText + u' ' + japaneseText(outcome);
}

QString nameStatusToolTip(const NameOutcome& outcome)
{
    using Kind = NameOutcome::Kind;
    QStringList lines;
    if (outcome.kind == Kind::NothingToAsk)
        return QCoreApplication::translate("NameStatus",
                                           "どの名前も分かっているので問い合わせていません");
    if (!outcome.technical.isEmpty())
        lines.append(outcome.technical);
    if (!outcome.builtinText.isEmpty())
        lines.append(QCoreApplication::translate("NameStatus", "内蔵の駅名データ: %1")
                         .arg(outcome.builtinText));
    if (outcome.kind == Kind::Answered || outcome.kind == Kind::FellBack ||
        outcome.kind == Kind::CutOff)
        lines.append(sourceLine(outcome));
    else if (!outcome.fromBuiltin)
        lines.append(QCoreApplication::translate("NameStatus", "駅名サーバー: %1")
                         .arg(outcome.server.toString(QUrl::RemoveUserInfo)));
    return lines.join(u'\n');
}

} // namespace ridelog
