// Resource ids of the progress window and the string table, shared by the resource scripts and the code.
#pragma once

// String table (all in block 7).
#define IDS_TITLE 101              // window title and message-box caption
#define IDS_STATUS_CHECKING 102    // first status text
#define IDS_STATUS_DOWNLOADING 103 // status while downloading
#define IDS_STATUS_APPLYING 104    // status while the update is applied
#define IDS_PROMPT_TEXT 105        // Yes/No question whether to take the update
#define IDS_OFFLINE_TEXT 106       // error box: no network for a required check
#define IDS_NOTIFY_TEXT 107        // information box: an update is needed to show a web page

// Progress window.
#define IDD_PROGRESS 108
#define IDC_STATUS_TEXT 1001
#define IDC_PROGRESS_BAR 1002
#define IDI_UPDATER 131
