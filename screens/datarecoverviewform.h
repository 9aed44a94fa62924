#ifndef KORVELLO_DATARECOVERVIEWFORM_H
#define KORVELLO_DATARECOVERVIEWFORM_H

#include "screenframe.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

// The restoration screen's widgets, created in member order (the stacking order).
class Ui_DataRecoverView
{
public:
    QLabel *label_title;
    QLabel *label_renote;
    QLabel *label_note;
    QPushButton *pb_recover;

    void setupUi(QWidget *DataRecoverView)
    {
        ScreenFrame::prepareScreen(DataRecoverView, Screens::kRecover.className);
        label_title = ScreenFrame::makeTitle(DataRecoverView);
        label_renote = ScreenFrame::makeRenote(DataRecoverView);
        label_note = ScreenFrame::makeNote(DataRecoverView);
        pb_recover = ScreenFrame::makeStartButton(DataRecoverView, Screens::kRecover.buttonName);
        ScreenFrame::Screen(DataRecoverView, Screens::kRecover, pb_recover, label_note,
                            label_renote)
            .finishForm(label_title);
    }
};

#endif
