#include "ui/cardlibrarymenu.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QLocale>
#include <algorithm>

namespace ridelog {

namespace {

bool scripted = false;
std::optional<QString> nextAnswer;
std::function<void()> whileAsked;

QString dateText(const QDate& date)
{
    if (!date.isValid())
        return QString();
    return QStringLiteral("%1-%2-%3").arg(date.year()).arg(date.month()).arg(date.day());
}

} // namespace

QString cardMenuText(const CardSummary& card)
{
    QString name = card.shownName();
    if (name.size() > kMenuNameCharacters)
        name = name.left(kMenuNameCharacters - 1) + QChar(u'…');
    name.replace(QLatin1Char('&'), QStringLiteral("&&"));
    // Tabs would split the entry into its shortcut column.
    name.replace(QLatin1Char('\t'), QLatin1Char(' '));
    QString text = name + QLatin1Char('\t') +
                   QCoreApplication::translate("CardLibraryMenu", "%1件")
                       .arg(QLocale::c().toString(card.entryCount));
    const QString newest = dateText(card.newestEntryDate);
    if (!newest.isEmpty())
        text += QStringLiteral("  ") + newest;
    if (card.kind)
        text += QStringLiteral("  ") + card::cardKindShownName(*card.kind);
    return text;
}

std::vector<CardSummary> recentCards(std::vector<CardSummary> cards, std::size_t count)
{
    std::stable_sort(cards.begin(), cards.end(), [](const CardSummary& a, const CardSummary& b) {
        if (a.lastRead.isValid() != b.lastRead.isValid())
            return a.lastRead.isValid();
        if (a.lastRead != b.lastRead)
            return a.lastRead > b.lastRead;
        return a.newestEntryDate > b.newestEntryDate;
    });
    if (cards.size() > count)
        cards.resize(count);
    return cards;
}

QString cardWindowTitle(const QString& shownName, bool stored)
{
    return stored ? QCoreApplication::translate("CardLibraryMenu",
                                                "%1（保存された履歴） - 交通費履歴読出")
                        .arg(shownName)
                  : QCoreApplication::translate("CardLibraryMenu", "%1 - 交通費履歴読出")
                        .arg(shownName);
}

QString storedCardTitle(const CardSummary& card)
{
    return cardWindowTitle(card.shownName(), true);
}

QString storedCardStatus(const CardSummary& card)
{
    return QCoreApplication::translate("CardLibraryMenu",
                                       "%1 保存された履歴（カードから読み取っていません）")
        .arg(card.idmText);
}

std::optional<QString> CardNameDialog::ask(QWidget* parent, const QString& idmText,
                                           const QString& currentName)
{
    if (scripted) {
        std::optional<QString> answer = std::move(nextAnswer);
        nextAnswer.reset();
        if (whileAsked)
            whileAsked();
        return answer;
    }
    bool ok = false;
    const QString text = QInputDialog::getText(
        parent, QCoreApplication::translate("CardLibraryMenu", "カード名の変更"),
        QCoreApplication::translate("CardLibraryMenu",
                                    "カード %1 の名前（空にするとIDmで表示します）：")
            .arg(idmText),
        QLineEdit::Normal, currentName, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

void CardNameDialog::setScripted(bool on)
{
    scripted = on;
    nextAnswer.reset();
    whileAsked = nullptr;
}

void CardNameDialog::setWhileAsked(std::function<void()> hook)
{
    whileAsked = std::move(hook);
}

void CardNameDialog::setNextAnswer(std::optional<QString> answer)
{
    nextAnswer = std::move(answer);
}

} // namespace ridelog
