// Resource and control identifiers of the settings dialog and the About box. Plain macros:
// the resource compiler reads this file too.
#pragma once

#define IDD_SETTINGS 5000
#define IDD_ABOUT 5002
#define IDB_ABOUT_PICTURE 5004

// Settings dialog controls.
#define IDC_OK_BUTTON 5002
#define IDC_CANCEL_BUTTON 5003
#define IDC_DEFAULTS_BUTTON 5006
#define IDC_ABOUT_BUTTON 5008
#define IDC_OFFSET_X_EDIT 5055
#define IDC_OFFSET_Y_EDIT 5056
#define IDC_SCALE_X_EDIT 5057
#define IDC_SCALE_Y_EDIT 5058
#define IDC_OFFSET_X_SPIN 5060
#define IDC_OFFSET_Y_SPIN 5061
#define IDC_SCALE_X_SPIN 5062
#define IDC_SCALE_Y_SPIN 5063
#define IDC_KEEP_ASPECT_CHECK 5066
#define IDC_CHANNEL_LABEL 5068
#define IDC_ENABLE_CHECK 5069
#define IDC_PER_CHANNEL_CHECK 5070
#define IDC_INTERLACE_CHECK 5073
#define IDC_DEINTERLACE_CHECK 5074
#define IDC_AUTO_FIT_CHECK 5075

// Sent by the frame path on a channel change and posted by the dialog to itself.
#define WM_DIALOG_REFRESH 0x0590
