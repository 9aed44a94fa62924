#ifndef KORVELLO_NEWDATAUPGRADEVIEWFORM_H
#define KORVELLO_NEWDATAUPGRADEVIEWFORM_H

#include "screenframe.h"
#include "texts.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

// The alternate upgrade screen repeats the backup screen's form, wording
// included, with its own button name and creation order.
class Ui_NewDataUpgradeView
{
public:
    QLabel *label_renote;
    QLabel *label_title;
    QPushButton *pb_update;
    QLabel *label_note;

    void setupUi(QWidget *NewDataUpgradeView)
    {
        ScreenFrame::prepareScreen(NewDataUpgradeView, "NewDataUpgradeView");
        label_renote = ScreenFrame::makeRenote(NewDataUpgradeView);
        label_title = ScreenFrame::makeTitle(NewDataUpgradeView);
        pb_update = ScreenFrame::makeStartButton(NewDataUpgradeView, "pb_update");
        label_note = ScreenFrame::makeNote(NewDataUpgradeView);
        ScreenFrame::finishForm(NewDataUpgradeView, "NewDataUpgradeView", label_title,
                                Texts::kBackupScreen.title, pb_update,
                                Texts::kBackupScreen.button, label_note, label_renote);
    }
};

#endif
