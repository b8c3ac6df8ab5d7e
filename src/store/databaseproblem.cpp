#include "store/databaseproblem.h"

#include <sqlite3.h>

namespace ridelog {

bool isDamageCode(int engineCode)
{
    const int primary = engineCode & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

QString databaseProblemText(int engineCode)
{
    if (isDamageCode(engineCode))
        return QStringLiteral(
            "履歴データベースが壊れているか、このプログラムのファイルではありません。"
            "\r\nこのファイルにはもう書き込みません。");
    switch (engineCode & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("履歴データベースがほかのプログラムに使われています。");
    case SQLITE_FULL:
        return QStringLiteral("ディスクがいっぱいで、履歴データベースに書き込めません。");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
        return QStringLiteral("履歴データベースを読み書きできません。");
    default:
        return QStringLiteral("履歴データベースでエラーが起きました。");
    }
}

QString historyNotKeptSignText()
{
    return QStringLiteral("履歴を保存していません");
}

QString noDataFolderReason()
{
    return QStringLiteral("データフォルダを作成できません。");
}

QString loadFailedReason()
{
    return QStringLiteral(
        "保存済みの履歴を読み込めなかったため、今回の読み取りは保存していません。");
}

} // namespace ridelog
