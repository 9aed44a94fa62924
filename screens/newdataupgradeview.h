#ifndef KORVELLO_NEWDATAUPGRADEVIEW_H
#define KORVELLO_NEWDATAUPGRADEVIEW_H

#include <QString>
#include <QWidget>

class Ui_NewDataUpgradeView;

// A second, minimal upgrade screen. Nothing in the tool opens it; it is kept
// buildable so that it can be shown and checked on its own.
class NewDataUpgradeView : public QWidget
{
    Q_OBJECT

public:
    explicit NewDataUpgradeView(QWidget *parent = nullptr);
    ~NewDataUpgradeView() override;

private slots:
    void on_pb_update_clicked();

private:
    Ui_NewDataUpgradeView *ui;
    QString mPathBackData;
};

#endif
