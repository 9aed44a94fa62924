#ifndef KORVELLO_FORMEXPECT_H
#define KORVELLO_FORMEXPECT_H

#include <QAbstractButton>
#include <QLabel>
#include <QMetaMethod>
#include <QMetaType>
#include <QPushButton>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

// What a widget of a form must look like, and a check that names every
// property that differs. Written out here on purpose, not taken from the
// code that builds the forms, so that a typo there shows up.
namespace FormExpect {

inline QString buttonStyleSheet()
{
    return QStringLiteral(
        "QPushButton{\n\tbackground-color: rgb(238, 238, 236);\n\tcolor: rgb(0, 0, 0);\n"
        "  border-radius: 10px;  \nborder:none;\n}\nQPushButton:pressed{\n"
        "\tbackground-color: rgb(186, 189, 182);\n\tcolor: rgb(0, 0, 0);\n"
        "  border-radius: 10px;  \nborder:none;\n}");
}

inline QString labelStyleSheet()
{
    return QStringLiteral("color: rgb(238, 238, 236);");
}

struct Widget
{
    QString name;
    QString className;
    QRect geometry;
    int pointSize = 0;        // 0: not checked
    int weight = 0;           // 0: not checked
    QString styleSheet;
    QString text;
    Qt::Alignment alignment;  // labels only; 0: not checked
};

// The child names of a widget in creation order (which is stacking order).
inline QStringList childOrder(const QWidget *parent)
{
    QStringList names;
    for (const QObject *child : parent->children()) {
        if (child->isWidgetType())
            names << child->objectName();
    }
    return names;
}

// The methods a class adds to its base's meta-object, with their access.
inline QStringList slotsOf(const QObject &object)
{
    const QMetaObject *meta = object.metaObject();
    QStringList methods;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        const char *access = method.access() == QMetaMethod::Public ? "public " : "private ";
        methods << QLatin1String(access) + QLatin1String(method.methodSignature());
    }
    return methods;
}

inline QString mismatch(const QWidget *parent, const Widget &expected)
{
    const QWidget *widget = parent->findChild<QWidget *>(expected.name);
    if (!widget)
        return QStringLiteral("missing");
    QStringList differs;
    auto check = [&differs](bool same, const char *what) {
        if (!same)
            differs << QString::fromLatin1(what);
    };
    check(expected.className == QLatin1String(widget->metaObject()->className()), "class");
    check(widget->geometry() == expected.geometry, "geometry");
    check(!expected.pointSize || widget->font().pointSize() == expected.pointSize, "point size");
    check(!expected.weight || widget->font().weight() == expected.weight, "weight");
    check(widget->styleSheet() == expected.styleSheet, "style sheet");
    if (auto *label = qobject_cast<const QLabel *>(widget)) {
        check(label->text() == expected.text, "text");
        check(!expected.alignment || label->alignment() == expected.alignment, "alignment");
    }
    if (auto *button = qobject_cast<const QPushButton *>(widget)) {
        const QSizePolicy policy = button->sizePolicy();
        check(button->text() == expected.text, "text");
        check(policy.horizontalPolicy() == QSizePolicy::Fixed
                  && policy.verticalPolicy() == QSizePolicy::Fixed,
              "size policy");
        check(policy.horizontalStretch() == 0 && policy.verticalStretch() == 0, "stretch");
        check(policy.hasHeightForWidth() == QPushButton().sizePolicy().hasHeightForWidth(),
              "height for width");
        check(button->minimumSize() == QSize(178, 50), "minimum size");
        check(button->focusPolicy() == Qt::NoFocus, "focus policy");
    }
    return differs.join(QStringLiteral(", "));
}

} // namespace FormExpect

Q_DECLARE_METATYPE(FormExpect::Widget)

#endif
