#pragma once

#include "Dialog.h"

#include <memory>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class ListGrid;
class ListModel;
class ValueLabel;
struct LogFilter;

// The operation log, read only: who did what, when, at which desk, newest first, narrowed by a
// date range, an action, a card serial, an owner and a desk; what is shown can be exported as a
// GBK CSV file. The log is flushed before every query, so the operator's own latest actions show.
// Nothing here changes the log. User-interface thread only.
class TFormOperationLog : public Dialog {
    Q_OBJECT
public:
    explicit TFormOperationLog(QWidget* parent = nullptr);
    ~TFormOperationLog() override;

    QCheckBox* chkDate;
    QDateEdit* edtFrom;
    QDateEdit* edtTo;
    QComboBox* cboAction;
    QLineEdit* edtCard;
    QLineEdit* edtOwner;
    QLineEdit* edtDesk;
    ValueLabel* lblCount;
    ListGrid* grid;
    QPushButton* btnSearch;
    QPushButton* btnExport;
    QPushButton* btnReturn;

    // The filter as the boxes give it.
    LogFilter Filter() const;

protected:
    void FormShow() override;

private:
    void btnSearchClick();
    void btnExportClick();

    std::unique_ptr<ListModel> m_model;
};
