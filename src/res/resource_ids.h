// Control IDs of the main dialog. The start/stop button is the standard IDOK (1); nothing uses 2,
// which only ever arrives as IDCANCEL. Plain numbers so that the resource compiler, the
// program and the portable field check can all include this header.
#ifndef RES_RESOURCE_IDS_H
#define RES_RESOURCE_IDS_H

// Entry fields
#define IDC_EDIT_BPM 1000
#define IDC_EDIT_BEATS 1001
#define IDC_EDIT_NOTE 1002

// Labels
#define IDC_LABEL_BPM 2000
#define IDC_LABEL_TIMESIG 2001
#define IDC_LABEL_SLASH 2002

#endif
