#pragma once

#include <QString>

// Building and unit rows (table BuildInfo, whatever the class name says), for the building and
// unit screen. Keeps no state; everything works through the data module dm.
// The methods through ExecuteSQL show "执行错误：" and the statement on failure and give false;
// the others throw OperationError (engine errors, and building or unit texts that are not
// whole numbers, in which case nothing is written).
class TvexTerminalInfo {
public:
    // No duplicate check: the screen deletes the pair first.
    static void AddBuildUnit(const QString& dongHao, const QString& danYuan, const QString& danYuanName);
    // Removes every row of the building and unit.
    static void DeleteBuildUnit(const QString& dongHao, const QString& danYuan);
    // DeleteBuildUnit then AddBuildUnit, all or nothing: a second add of a pair replaces its
    // nickname (and gives the row a new idx). Throws like the two (nothing changed then); false
    // when the engine would not keep the change (reported).
    static bool ReplaceBuildUnit(const QString& dongHao, const QString& danYuan, const QString& danYuanName);
    static bool DeleteRow(int idx);
    static bool DeleteSelected();
    static bool SelectAll();
    static bool SelectNone();
    // value 1 marks the row, 0 unmarks it.
    static bool SetSelected(int idx, int value);
    // False when the row's mark is Null or no row has the key.
    static bool IsSelected(int idx);
    // The idx of the first row of the building and unit, -1 when none.
    static int FindBuildUnit(const QString& dongHao, const QString& danYuan);
};
