#pragma once

// Selection marks, loss state and deletion of owner rows, for the owner list. Keeps no state;
// everything works through the data module dm. The changing methods go through ExecuteSQL
// (a failure shows "执行错误：" and the statement, and gives false); IsSelected throws
// OperationError on an engine error. Reporting lost and found and the deletions are recorded in
// the operation log, with the owner's row as it stood before.
class TvexUserInfo {
public:
    static bool SelectAll();
    static bool SelectNone();
    // value 1 marks the row, 0 unmarks it.
    static bool SetSelected(int idx, int value);
    // False when the row's mark is Null or no row has the key.
    static bool IsSelected(int idx);
    static bool MarkLost(int idx);
    static bool UnmarkLost(int idx);
    static bool DeleteRow(int idx);
    // Deletes every marked owner of the table.
    static bool DeleteSelected();
};
