#ifndef KORVELLO_MAINWINDOWFORM_H
#define KORVELLO_MAINWINDOWFORM_H

#include "screenframe.h"
#include "texts.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMetaObject>
#include <QPushButton>
#include <QWidget>

// The menu's widgets, created in member order: the black backdrop first, so
// that it lies under everything else.
class Ui_MainWindow
{
public:
    QWidget *centralwidget;
    QLabel *label;
    QLabel *label_title;
    QPushButton *pb_backup;
    QPushButton *pb_restoration;
    QPushButton *pb_upgrade;
    QLabel *label_ver;

    void setupUi(QMainWindow *MainWindow)
    {
        if (MainWindow->objectName().isEmpty())
            MainWindow->setObjectName(QStringLiteral("MainWindow"));
        MainWindow->resize(ScreenFrame::kScreenWidth, ScreenFrame::kScreenHeight);
        centralwidget = new QWidget(MainWindow);
        centralwidget->setObjectName(QStringLiteral("centralwidget"));
        centralwidget->setStyleSheet(QString());
        label = new QLabel(centralwidget);
        label->setObjectName(QStringLiteral("label"));
        label->setGeometry(
            QRect(0, 0, ScreenFrame::kScreenWidth, ScreenFrame::kScreenHeight));
        label->setStyleSheet(QStringLiteral("background-color: rgb(0, 0, 0);"));
        label_title = ScreenFrame::makeTitle(centralwidget);
        pb_backup = ScreenFrame::makeButton(centralwidget, "pb_backup", QRect(290, 250, 320, 220));
        pb_restoration =
            ScreenFrame::makeButton(centralwidget, "pb_restoration", QRect(800, 250, 320, 220));
        pb_upgrade =
            ScreenFrame::makeButton(centralwidget, "pb_upgrade", QRect(1310, 250, 320, 220));
        label_ver = new QLabel(centralwidget);
        label_ver->setObjectName(QStringLiteral("label_ver"));
        label_ver->setGeometry(QRect(20, 640, 1001, 61));
        QFont versionFont;
        versionFont.setPointSize(16);
        label_ver->setFont(versionFont);
        label_ver->setStyleSheet(ScreenFrame::labelStyleSheet());
        MainWindow->setCentralWidget(centralwidget);

        retranslateUi(MainWindow);
        QMetaObject::connectSlotsByName(MainWindow);
    }

    void retranslateUi(QMainWindow *MainWindow)
    {
        MainWindow->setWindowTitle(QCoreApplication::translate("MainWindow", "MainWindow"));
        label->setText(QString());
        label_title->setText(QCoreApplication::translate("MainWindow", Texts::kMenuTitle));
        pb_backup->setText(QCoreApplication::translate("MainWindow", Texts::kMenuBackup));
        pb_restoration->setText(QCoreApplication::translate("MainWindow", Texts::kMenuRestore));
        pb_upgrade->setText(QCoreApplication::translate("MainWindow", Texts::kMenuUpgrade));
        label_ver->setText(QString());
    }
};

#endif
