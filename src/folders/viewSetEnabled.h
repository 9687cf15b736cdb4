#pragma once
// Enables or disables the controls of a view tree. Two marks, carried by
// widgets as dynamic properties, change that: the "tag" -99 keeps a
// control's enabled state (display-only controls), the "tag" -100 makes a
// control's text colour follow the state; and a button whose "imageName" is
// "RevealNormal" or "DownloadReveal" (the reveal button) stays usable, so a
// disabled row can still show its folder. GUI thread only.

class QWidget;

namespace view_tags {

inline constexpr const char* kTagProperty = "tag";
inline constexpr const char* kImageNameProperty = "imageName";
inline constexpr int kKeepsEnabledState = -99;
inline constexpr int kTextColourFollowsState = -100;

} // namespace view_tags

void viewSetEnabled(QWidget* view, bool flag);
