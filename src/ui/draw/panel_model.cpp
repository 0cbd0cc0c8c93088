#include "ui/draw/panel_model.h"

#include <utility>

namespace oq {

Repaint PanelModel::SetText(std::wstring value) {
  if (FText == value) return Repaint::None;
  FText = std::move(value);
  return Repaint::Later;
}

Repaint PanelModel::SetFillColor(TColor value) {
  if (FFillColor == value) return Repaint::None;
  FFillColor = value;
  FFill = value;
  return Repaint::Fill;
}

Repaint PanelModel::SetBorderColor(TColor value) {
  if (FBorderColor == value) return Repaint::None;
  FBorderColor = value;
  FBorder = value;
  return Repaint::Now;
}

Repaint PanelModel::SetHasMouse(bool value, bool canHover) {
  if (!canHover) return Repaint::None;
  FHasMouse = value;
  // The repaint follows the colours, not the flag: a control whose hover
  // colours equal its own has nothing to show.
  return FFill != FFillColorFocused || FBorder != FBorderColorFocused ? Repaint::Later : Repaint::None;
}

PanelLook PanelModel::Look() const {
  if (!FEnabled) return {FFill, kDisabledOutline, clSilver};
  if (FHasMouse) return {FFillColorFocused, FBorderColorFocused, FFontColor};
  return {FFill, FBorder, FFontColor};
}

void PanelModel::ApplyDownLook(bool down) {
  FBorder = down ? FBorderColorFocused : FBorderColor;
  FFill = down ? FFillColorFocused : FFillColor;
}

Repaint ButtonModel::SetDown(bool value, PanelModel& panel) {
  if (FDown == value) return Repaint::None;
  FDown = value;
  panel.ApplyDownLook(value);
  return Repaint::Later;
}

Repaint ButtonModel::SetGroupIndex(int32_t value, PanelModel& panel) {
  if (FGroupIndex == value) return Repaint::None;
  FGroupIndex = value;
  if (value > 0) {
    if (panel.FillColor() == panel.FillColorFocused()) panel.SetFocusedFillDirect(kGroupDownFill);
    panel.ApplyDownLook(FDown);
  }
  return Repaint::Later;
}

void GroupStepOnMouseUp(GroupMember& self, std::span<GroupMember* const> components) {
  const int32_t group = self.GroupIndex();
  if (group <= 0 || self.Down()) return;
  for (GroupMember* other : components) {
    if (other != &self && other->GroupIndex() == group) other->SetDown(false);
  }
  self.SetDown(true);
}

GroupMember* FindDownButton(const GroupMember& self, std::span<GroupMember* const> components) {
  for (GroupMember* b : components) {
    if (b->GroupIndex() == self.GroupIndex() && b->Down()) return b;
  }
  return nullptr;
}

FrameRect PanelFrame(const PanelModel& panel, int32_t clientWidth, int32_t clientHeight) {
  const int32_t width = clientWidth - 1 - panel.IndentRight() - panel.IndentLeft();
  const int32_t height = clientHeight - 1;
  return {static_cast<float>(panel.IndentLeft()), 0.0f, static_cast<float>(width), static_cast<float>(height)};
}

ControlRect InnerEditRect(int32_t frameWidth, int32_t frameHeight, int32_t rounding) {
  return {rounding, kInnerEditTop, frameWidth - 2 * rounding - 2, frameHeight - 6};
}

bool ShowsEmptyText(bool textEmpty, const std::wstring& emptyText, bool focused, THideEmptyText hide) {
  return textEmpty && !emptyText.empty() && (!focused || hide == heOnText);
}

}  // namespace oq
