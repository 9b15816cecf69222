#pragma once

// The query behind each list screen, its conditions and their values bound: the owner list and
// the owner search's conditions, the owners a card can be written for, the buildings and units,
// the door terminals (the list and the owner card windows' selectors).

#include "store/ListModel.h"

#include <QDate>
#include <QList>
#include <QString>
#include <optional>

// Conditions on the owners (table UserInfo) for the owner list: a text of conditions, each
// beginning with " and ", whose values are bound parameters, never part of the text.
struct OwnerFilter {
    QString conditions;
    SqlParams params;
    // A building or unit number typed that is not a whole number. The conditions cannot be run
    // then: the list shows nothing and the conversion error is given instead.
    std::optional<QString> notANumber;
};

// The owners of one unit.
OwnerFilter OwnersOfUnit(int building, int unit);
// A number column (DongHao, DanYuan) equal to the typed number; a text that is no whole number
// is kept as the filter's notANumber (the first one) and narrows nothing.
void AddNumberCondition(OwnerFilter& filter, const QString& column, const QString& typed);
// A text column equal to the text as typed.
void AddTextCondition(OwnerFilter& filter, const QString& column, const QString& typed);
// The card number as typed; a card serial typed there (as stored or as the card issuer shows it)
// also finds the owner who holds that card.
void AddCardCondition(OwnerFilter& filter, const QString& typed);

// The owner list: the owners the filter lets through, in building, unit and room order.
ListQuery OwnerList(const OwnerFilter& filter);

// The owners a card can be written for (all but the lost ones), in row order: every one, those of
// a unit, those whose card number or card (as typed) matches, those whose name contains a text.
ListQuery IssuingList();
ListQuery IssuingListOfUnit(int building, int unit);
ListQuery IssuingListOfCard(const QString& typed);
ListQuery IssuingListByName(const QString& part);

// The units, narrowed by those of building, unit number and name that are given, in building and
// unit order.
ListQuery UnitList(std::optional<int> building = {}, std::optional<int> unit = {},
                   const QString& name = QString());

// The door terminals, narrowed by the number and by the name and remark that are not blank, in
// number order.
ListQuery TerminalList(std::optional<int> terminalId = {}, const QString& name = QString(),
                       const QString& remark = QString());

// A door terminal as the owner card windows' selectors show it.
struct TerminalName {
    QString id;
    QString name;
};
// The first `most` door terminals in number order.
QList<TerminalName> TerminalsInOrder(int most);

// What the operation log window and `iccard-data log` narrow the log to; a field left empty (or a
// null date) narrows nothing.
struct LogFilter {
    QDate from{};     // entries of this day and after
    QDate to{};       // entries of this day and before
    QString action{}; // one of LogActions()
    QString card{};   // a card serial as stored or as the card issuer shows it, or the text as stored
    QString owner{};  // part of the owner's name
    QString desk{};   // part of the computer's or the system user's name
};

// The operation log's entries the filter lets through, newest first (by time, then by the order
// they were appended), with the operator level as its name (column LevelName).
ListQuery OperationLogList(const LogFilter& filter);
