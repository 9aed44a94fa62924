#ifndef KORVELLO_DATABACKUPVIEWFORM_H
#define KORVELLO_DATABACKUPVIEWFORM_H

#include "screenframe.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

// The backup screen's widgets, created in member order (the stacking order).
class Ui_DataBackupView
{
public:
    QLabel *label_title;
    QPushButton *pb_backup;
    QLabel *label_note;
    QLabel *label_renote;

    void setupUi(QWidget *DataBackupView)
    {
        ScreenFrame::prepareScreen(DataBackupView, Screens::kBackup.className);
        label_title = ScreenFrame::makeTitle(DataBackupView);
        pb_backup = ScreenFrame::makeStartButton(DataBackupView, Screens::kBackup.buttonName);
        label_note = ScreenFrame::makeNote(DataBackupView);
        label_renote = ScreenFrame::makeRenote(DataBackupView);
        ScreenFrame::Screen(DataBackupView, Screens::kBackup, pb_backup, label_note, label_renote)
            .finishForm(label_title);
    }
};

#endif
