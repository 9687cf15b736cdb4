#include "folders/viewSetEnabled.h"

#include "platform/runtime/Log.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPalette>
#include <QWidget>

#include <cstdint>
#include <string>

using platform::logf;

namespace {

// The widgets that play the part of controls; everything else is a
// container whose children are visited in turn.
bool isControl(const QWidget* w) {
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSlider*>(w) || qobject_cast<const QLabel*>(w);
}

std::string describe(const QWidget* w) {
    return "<" + std::string(w->metaObject()->className()) + ": " + w->objectName().toStdString() + ">";
}

std::string describe(const QList<QWidget*>& widgets) {
    std::string text = "(";
    for (const QWidget* w : widgets) text += "\n    " + describe(w) + ",";
    if (!widgets.isEmpty()) text.pop_back();
    return text + "\n)";
}

int tagOf(const QWidget* w) {
    bool ok = false;
    const int tag = w->property(view_tags::kTagProperty).toInt(&ok);
    return ok ? tag : 0;
}

bool isRevealButton(const QWidget* w) {
    if (!qobject_cast<const QAbstractButton*>(w)) return false;
    const QString image = w->property(view_tags::kImageNameProperty).toString();
    return image.compare("DownloadReveal", Qt::CaseInsensitive) == 0 ||
           image.compare("RevealNormal", Qt::CaseInsensitive) == 0;
}

// Direct child widgets, leaving out windows that merely have the view as parent.
QList<QWidget*> subviewsOf(QWidget* view) {
    QList<QWidget*> subviews;
    for (QWidget* child : view->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!child->isWindow()) subviews.append(child);
    return subviews;
}

// The style's normal and dimmed text colours: what black and gray are on a
// light theme, and still readable on a dark one.
void setTextColour(QWidget* control, bool enabled) {
    const QPalette standard = QApplication::palette(control);
    const QColor colour = standard.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    QPalette palette = control->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        for (auto role : {QPalette::WindowText, QPalette::Text}) palette.setColor(group, role, colour);
    control->setPalette(palette);
}

void setControlEnabled(QWidget* control, bool flag) {
    if (flag) logf("Enabling viewObj = %s", describe(control).c_str());
    else logf("Disabling viewObj = %s", describe(control).c_str());
    if (isRevealButton(control) || tagOf(control) == view_tags::kKeepsEnabledState) return;
    // A number typed but not yet committed becomes the value before the box is locked.
    if (auto* box = qobject_cast<QAbstractSpinBox*>(control)) box->interpretText();
    control->setEnabled(flag);
    if (tagOf(control) == view_tags::kTextColourFollowsState)
        QMetaObject::invokeMethod(control, [control, flag] { setTextColour(control, flag); }, Qt::QueuedConnection);
}

} // namespace

void viewSetEnabled(QWidget* view, bool flag) {
    if (!view) return;
    const QList<QWidget*> subviews = subviewsOf(view);
    const auto count = static_cast<std::int16_t>(subviews.size());
    logf("\n\nViewCount = [%i]\n\n%s\n\n", count, describe(subviews).c_str());
    if (count < 1) return;
    for (QWidget* subview : subviews) {
        if (isControl(subview)) setControlEnabled(subview, flag);
        else viewSetEnabled(subview, flag);
    }
}
