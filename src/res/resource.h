#pragma once

// Resources of the program.
#define IDI_MAIN 101
#define IDR_MAIN_MENU 102
#define IDD_CONFIGURATION 103
#define IDD_ABOUT 104
#define IDR_ACCELERATORS 105
#define IDD_SCAN 106
#define IDD_GUIDE 107
#define IDD_SIGNAL_QUALITY 108
#define IDD_SCHEDULE_ENTRY 110
#define IDD_SCHEDULE_LIST 111

// Menu and accelerator commands. Channel menu items use the list index (0 ... N-1) instead.
#define IDM_QUIT 40001
#define IDM_ABOUT 40002
#define IDM_CONFIGURATION 40003
#define IDM_VIDEO_DECODER_PAGES 40004
#define IDM_AUDIO_DECODER_PAGES 40005
#define IDM_VMR_PAGES 40006
#define IDM_DSOUND_PAGES 40007
#define IDM_DEMUX_PAGES 40008
#define IDM_AC3_DECODER_PAGES 40009
#define IDM_DSOUND_AC3_PAGES 40010
#define IDM_RECORD_MULTIPLEX 40012
#define IDM_SECOND_AUDIO 40013
#define IDM_SCREENSHOT 40014
#define IDM_FULL_SCREEN 40015
#define IDM_AC3_TRACK 40016
#define IDM_STOP_RECORDING 40017
#define IDM_FIRST_AUDIO 40018
#define IDM_MUTE 40020
#define IDM_VIDEO_FOLDER 40025
#define IDM_SCREENSHOT_FOLDER 40026
#define IDM_ALWAYS_ON_TOP 40029
#define IDM_PRIORITY_HIGH 40033
#define IDM_PRIORITY_NORMAL 40034
#define IDM_PRIORITY_ABOVE_NORMAL 40039
#define IDM_PRIORITY_BELOW_NORMAL 40040
#define IDM_GUIDE 40043
#define IDM_SEND_NOW_PLAYING 40045
#define IDM_SIGNAL_QUALITY 40047
#define IDM_RECORD_CHANNEL_TS 40049
#define IDM_RECORD_CHANNEL_PS 40050
#define IDM_PREFER_AC3 40052
#define IDM_VOLUME_UP 40055
#define IDM_VOLUME_DOWN 40056
#define IDM_ZOOM_IN 40063
#define IDM_ZOOM_OUT 40064
#define IDM_FULL_WIDTH 40065
#define IDM_DEFAULT_ZOOM 40071
// Added to the channel menu when the channel numbers changed on the air.
#define IDM_RESCAN_CHANNELS 40090
#define IDM_NEXT_AUDIO 40072
// The items of a channel's further audio tracks, made at run time in "Commandes": one id per
// track in the order of the channel's streams, from FIRST on.
#define IDM_AUDIO_STREAM_FIRST 40100
#define IDM_AUDIO_STREAM_LAST 40131
// The "Sous-titres" menu of "Commandes": "Aucun", then one item per subtitle stream of the
// channel, made at run time from FIRST on; the S key steps through them.
#define IDM_SUBTITLES_NONE 40140
#define IDM_SUBTITLE_STREAM_FIRST 40141
#define IDM_SUBTITLE_STREAM_LAST 40158
#define IDM_NEXT_SUBTITLES 40159

// Scheduled recordings and the notification area; the guide's context menu item.
#define IDM_SCHEDULE_RECORDING 40160
#define IDM_SCHEDULE_LIST 40161
#define IDM_MINIMIZE_TO_TRAY 40162
#define IDM_GUIDE_RECORD_EVENT 40163

// Controls of the configuration dialog (103) and of the scan dialog (106).
#define IDC_CITY 1001
#define IDC_VIDEO_DECODER 1002
#define IDC_AUDIO_DECODER 1003
#define IDC_AC3_DECODER 1004
#define IDC_SCAN_PROGRESS 1005
#define IDC_SCAN_NAMES 1006
#define IDC_TUNER 1009
#define IDC_RECEIVER 1010
#define IDC_H264_DECODER 1030
#define IDC_EAC3_DECODER 1031

// Timer of a channel number being typed.
#define IDT_TYPED_NUMBER 123

// Child window identifier of the status bar.
#define IDC_STATUS_BAR 41234

// Controls of the picture, guide, signal and About dialogs.
#define IDC_ABOUT_LINK 1008
#define IDC_GUIDE_LIST 1013
#define IDC_GUIDE_REFRESH 1014
#define IDC_SIGNAL_PRESENT 1015
#define IDC_SIGNAL_LOCKED 1016
#define IDC_SIGNAL_QUALITY 1017
#define IDC_SIGNAL_STRENGTH 1018

// Controls of the scheduling dialogs (110, 111) and of the guide's recording command.
#define IDC_SCHEDULE_CHANNEL 1140
#define IDC_SCHEDULE_DATE 1141
#define IDC_SCHEDULE_START 1142
#define IDC_SCHEDULE_END 1143
#define IDC_SCHEDULE_FORMAT 1144
#define IDC_SCHEDULE_ONCE 1145
#define IDC_SCHEDULE_DAILY 1146
#define IDC_SCHEDULE_WEEKLY 1147
// Monday to Sunday: IDC_SCHEDULE_MONDAY + 0 ... 6.
#define IDC_SCHEDULE_MONDAY 1148
#define IDC_SCHEDULE_SUNDAY 1154
#define IDC_SCHEDULE_TABLE 1160
#define IDC_SCHEDULE_EDIT 1161
#define IDC_SCHEDULE_DELETE 1162
#define IDC_GUIDE_RECORD 1170
#define IDC_GUIDE_STATUS 1171
