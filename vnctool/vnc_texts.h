#pragma once

#include <QString>

// Language-table ids of the texts the VNC tool shows.
enum VNC_TEXT {
    MsgWarning = 1000,
    MsgTip = 1001,
    MsgOldPwdWrong = 2986,
    MsgPwdMismatch = 2987,
    MsgOldPwdMissing = 2988,
    MsgSignInWrong = 2989,
    MsgNewPwdMissing = 2990,
    MsgPleaseEnter = 2991,
    MsgEnterPwd = 2992,
    MsgOldPwd = 2993,
    MsgNewPwd = 2994,
    MsgConfirmEntry = 2995,
    MsgConfirm = 2996,
    MsgCancel = 2997,
    MsgEnglishName = 2998,
    MsgChineseName = 2999,
    MsgDeployVnc = 3000,
    MsgRemoveVnc = 3001,
    MsgSetPwd = 3002,
    MsgClearPwd = 3003,
    MsgRestart = 3004,
    MsgClose = 3005,
    MsgDeployFailed = 3006,
    MsgCreateFailed = 3007,
    MsgCopyFailed = 3008,
    MsgDeployed = 3009,
    MsgRemoved = 3010,
    MsgSignInTitle = 3011,
    MsgPwdSetTitle = 3012,
    MsgToolTitle = 3013,
    MsgConfigError = 3014,
    MsgNothingToRemove = 3015,
    MsgRedeployQuestion = 3016,
    MsgNothingToSetPwd = 3017,
    MsgNothingToClearPwd = 3018,
    MsgPwdSet = 3019,
    MsgPwdCleared = 3020,
    MsgNoSignIn = 3021,
};

// The text of id in the language table in force.
QString vncText(int id);
