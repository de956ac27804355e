#pragma once

// Numbers of the launcher's texts in the language table.
enum LauncherMessage {
    MsgWarningTitle = 1000,
    MsgNoticeTitle = 1001,
    MsgConfirm = 1003,
    MsgYes = 1004,
    MsgNo = 1005,
    MsgReportFailed = 2000,
    MsgReportSucceeded = 2001,
    MsgDescriptionUnreadable = 2002,
    MsgPageIntroduction = 2004,
    MsgCannotUpdate = 2005,
    MsgUpdaterStarted = 2006,
    MsgPanelIdUnreadable = 2011,
};
