#include "screenframe.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QRect>
#include <QSizePolicy>
#include <QWidget>

namespace ScreenFrame {

namespace {
const int kLineHeight = 81;
const int kNoteY = 190;
const int kRenoteY = 310;
const QRect kStartButtonGeometry(800, 450, 320, 81);
} // namespace

QString buttonStyleSheet()
{
    return QStringLiteral("QPushButton{\n"
                          "\tbackground-color: rgb(238, 238, 236);\n"
                          "\tcolor: rgb(0, 0, 0);\n"
                          "  border-radius: 10px;  \n"
                          "border:none;\n"
                          "}\n"
                          "QPushButton:pressed{\n"
                          "\tbackground-color: rgb(186, 189, 182);\n"
                          "\tcolor: rgb(0, 0, 0);\n"
                          "  border-radius: 10px;  \n"
                          "border:none;\n"
                          "}");
}

QString labelStyleSheet()
{
    return QStringLiteral("color: rgb(238, 238, 236);");
}

QFont titleFont()
{
    QFont font;
    font.setPointSize(18);
    font.setBold(true);
    font.setWeight(75);
    return font;
}

QFont lineFont()
{
    QFont font;
    font.setPointSize(16);
    font.setBold(false);
    font.setWeight(50);
    return font;
}

QFont buttonFont()
{
    QFont font;
    font.setPointSize(18);
    return font;
}

void prepareScreen(QWidget *screen, const char *className)
{
    if (screen->objectName().isEmpty())
        screen->setObjectName(QString::fromLatin1(className));
    screen->resize(kScreenWidth, kScreenHeight);
}

QLabel *makeTitle(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QStringLiteral("label_title"));
    label->setGeometry(QRect(0, 40, kScreenWidth, kLineHeight));
    label->setFont(titleFont());
    label->setStyleSheet(labelStyleSheet());
    label->setAlignment(Qt::AlignCenter);
    return label;
}

namespace {

QLabel *makeLine(QWidget *parent, const char *objectName, int y)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setGeometry(QRect(0, y, kScreenWidth, kLineHeight));
    label->setFont(lineFont());
    label->setStyleSheet(labelStyleSheet());
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

QLabel *makeNote(QWidget *parent)
{
    return makeLine(parent, "label_note", kNoteY);
}

QLabel *makeRenote(QWidget *parent)
{
    return makeLine(parent, "label_renote", kRenoteY);
}

QPushButton *makeButton(QWidget *parent, const char *objectName, const QRect &geometry)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setGeometry(geometry);
    QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    policy.setHeightForWidth(button->sizePolicy().hasHeightForWidth());
    button->setSizePolicy(policy);
    button->setMinimumSize(QSize(178, 50));
    button->setFont(buttonFont());
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(buttonStyleSheet());
    return button;
}

QPushButton *makeStartButton(QWidget *parent, const char *objectName)
{
    return makeButton(parent, objectName, kStartButtonGeometry);
}

void finishForm(QWidget *screen, const char *context, QLabel *title, const char *titleText,
                QPushButton *button, const char *buttonText, QLabel *note, QLabel *renote)
{
    screen->setWindowTitle(QCoreApplication::translate(context, "Form"));
    title->setText(QCoreApplication::translate(context, titleText));
    button->setText(QCoreApplication::translate(context, buttonText));
    note->setText(QString());
    renote->setText(QString());
    QMetaObject::connectSlotsByName(screen);
}

Screen::Screen(QWidget *widget, const ScreenTraits &traits, QPushButton *button, QLabel *note,
               QLabel *renote)
    : mWidget(widget)
    , mTraits(traits)
    , mButton(button)
    , mNote(note)
    , mRenote(renote)
{
}

void Screen::finishForm(QLabel *title) const
{
    ScreenFrame::finishForm(mWidget, mTraits.className, title, mTraits.texts.title, mButton,
                            mTraits.texts.button, mNote, mRenote);
}

void logStorageRoot(const ScreenTraits &traits, const QString &storageRoot)
{
    qDebug() << "=== " << traits.className << " mPathBackData " << storageRoot;
}

void Screen::setNote(const QString &text) const
{
    mNote->setText(text);
}

int Screen::runScript(const QString &storageRoot, const QStringList &arguments) const
{
    return ScriptRunner::run(mTraits.runner, storageRoot, arguments,
                             [this](const QString &note) { setNote(note); });
}

void Screen::hideButton() const
{
    mButton->setVisible(false);
}

void Screen::showBusy() const
{
    hideButton();
    mNote->setText(QString::fromUtf8(mTraits.texts.busy));
    mRenote->setVisible(false);
}

} // namespace ScreenFrame
