// The work item panel's pure rules: status labels and which controls are on.
#pragma once
#include <string>

// Label of a status code; anything outside the table reads "Новая".
const wchar_t* statusLabelFor(const std::wstring& code);

// The action name sent by action button i (0..5).
const wchar_t* workActionName(int index);

struct PanelEnabling {
    bool actions[6];   // 120..125
    bool staffCombo;
};

PanelEnabling panelEnabling(int mode, bool canDispatch, bool isAssigned);
