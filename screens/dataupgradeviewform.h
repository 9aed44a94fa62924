#ifndef KORVELLO_DATAUPGRADEVIEWFORM_H
#define KORVELLO_DATAUPGRADEVIEWFORM_H

#include "screenframe.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

// The upgrade screen's widgets, created in member order (the stacking order).
class Ui_DataUpgradeView
{
public:
    QLabel *label_note;
    QLabel *label_title;
    QPushButton *pb_upgraded;
    QLabel *label_renote;

    void setupUi(QWidget *DataUpgradeView)
    {
        ScreenFrame::prepareScreen(DataUpgradeView, Screens::kUpgrade.className);
        label_note = ScreenFrame::makeNote(DataUpgradeView);
        label_title = ScreenFrame::makeTitle(DataUpgradeView);
        pb_upgraded = ScreenFrame::makeStartButton(DataUpgradeView, Screens::kUpgrade.buttonName);
        label_renote = ScreenFrame::makeRenote(DataUpgradeView);
        ScreenFrame::Screen(DataUpgradeView, Screens::kUpgrade, pb_upgraded, label_note,
                            label_renote)
            .finishForm(label_title);
    }
};

#endif
