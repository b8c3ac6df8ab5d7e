#include "store/databaseproblem.h"

#include <QCoreApplication>
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
        return QCoreApplication::translate(
            "DatabaseProblem",
            "履歴データベースが壊れているか、このプログラムのファイルではありません。"
            "\r\nこのファイルにはもう書き込みません。");
    switch (engineCode & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QCoreApplication::translate("DatabaseProblem",
                                           "履歴データベースがほかのプログラムに使われています。");
    case SQLITE_FULL:
        return QCoreApplication::translate(
            "DatabaseProblem", "ディスクがいっぱいで、履歴データベースに書き込めません。");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
        return QCoreApplication::translate("DatabaseProblem",
                                           "履歴データベースを読み書きできません。");
    default:
        return QCoreApplication::translate("DatabaseProblem",
                                           "履歴データベースでエラーが起きました。");
    }
}

QString historyNotKeptSignText()
{
    return QCoreApplication::translate("DatabaseProblem", "履歴を保存していません");
}

QString noDataFolderReason()
{
    return QCoreApplication::translate("DatabaseProblem", "データフォルダを作成できません。");
}

QString loadFailedReason()
{
    return QCoreApplication::translate(
        "DatabaseProblem",
        "保存済みの履歴を読み込めなかったため、今回の読み取りは保存していません。");
}

} // namespace ridelog
