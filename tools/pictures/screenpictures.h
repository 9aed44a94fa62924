#ifndef KORVELLO_PICTURES_SCREENPICTURES_H
#define KORVELLO_PICTURES_SCREENPICTURES_H

#include <QImage>
#include <QString>
#include <QVector>

#include <memory>

class MainWindow;

// Every state a service engineer can see, each rebuilt on a real main window
// with the screen as its child, as the tool shows it.
namespace ScreenPictures {

enum class Screen { Menu, Backup, Recover, Upgrade };

struct State
{
    QString name; // the picture's file name without ".png"
    Screen screen;
    QString note;   // label_note
    QString renote; // label_renote; null: hidden, as the click handler leaves it
    bool buttonVisible; // the start button, seen only before the job starts
};

const QVector<State> &states();

// The family the pictures are drawn with, from fonts-noto-cjk.
constexpr char kFontFamily[] = "Noto Sans CJK TC";
// Makes it the application's font; false when it is not installed.
bool useScreenFont();

// The window in the state, shown (on the offscreen platform nothing appears).
std::unique_ptr<MainWindow> build(const State &state);
// The window's picture, reduced to a small palette: the screens hold only
// a few colours, and the pictures stay small in the repository.
QImage render(const State &state);

} // namespace ScreenPictures

#endif
