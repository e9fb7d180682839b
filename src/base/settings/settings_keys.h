#pragma once

namespace vistrelle::settings_keys {

// Keys of the user-defaults store.  Their texts are stored on disk: never
// rename them.
inline constexpr const char kScreenMode[] =
    "ScreenModeUserDefaultsKey";  // integer 0 web, 1 game, 2 video
inline constexpr const char kPrivacyScreenLockState[] =
    "privacyScreenLockState_UserDefault";                                        // 0/1
inline constexpr const char kDepthScaleValue[] = "depthScaleValue_UserDefault";  // float 0..0.015
inline constexpr const char kDisplayVolumeLevel[] = "displayVolumeLevel_UserDefaultsKey";  // 0..6
inline constexpr const char kDisplayVolumeIsSoundOff[] =
    "displayVolumeLevel_isSoundOff_UserDefaultsKey";
// The built-in panel's brightness before the privacy dimming (float 0..1),
// kept until it is restored, so that a session that ended dark brightens the
// panel again at the next start.
inline constexpr const char kSavedBuiltinBrightness[] = "savedBuiltinBrightness_UserDefault";
inline constexpr const char kImmersionValueNumber[] = "immersionValueNumber_UserDefault";  // int32
// The in-app language: a plain language code ("zh-Hans" or "en").
inline constexpr const char kDefaultUserSettings[] = "DefaultUserSettings";
inline constexpr const char kOrvexUserInfo[] = "UserDefault_key_orvex_userInfo";  // dictionary
// The account session besides its dictionary: the current access token, the
// time of the last token grant (ms since 1970) and the ZeroTier network the
// service assigned.
inline constexpr const char kOrvexUserToken[] = "userInfo_token_orvex";  // text
inline constexpr const char kOrvexRefreshAccessTokenTimestamp[] =
    "orvex_refreshAccessToken_timestamp";  // 64-bit integer
inline constexpr const char kOrvexZtNetworkRoomId[] = "userInfo_ztNetworkRoomId_orvex";  // text

}  // namespace vistrelle::settings_keys
