#pragma once

// Numbers of the updater's texts in the language table.
enum UpdaterMessage {
    MsgRestartHix = 1018,
    MsgReportFailed = 2000,
    MsgReportSuccess = 2001,
    MsgWindowNoMemory = 2013,
    MsgTotalProgress = 2014,
    MsgKeepStickIn = 2015,
    MsgUpdateStarts = 2018,
    MsgChangeDirFailed = 2098,
};
