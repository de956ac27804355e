#!/bin/sh
# Program 1 of the example package: writes the configuration of HMI runtime version $1 and
# reports the outcome to the updater with hixresult (0 success, 1 failure).
#
# The updater starts it as: install_config.sh 2.0 "-lanID 0000"
# On a development machine HIX_SYSROOT names the emulated panel; on a panel it is unset.
version=${1:-2.0}
here=$(dirname "$0")
config="${HIX_SYSROOT}/usr/vexo_app/config"

result=0
{
    printf '[runtime]\nversion=%s\nstart=/usr/vexo_app/runtime/bin/vexo_app\n' "$version" \
        > "$config/runtime.conf" &&
    # Version 2.0 starts from default operator settings; the updater puts the saved ones back.
    printf '[display]\nbrightness=50\n' > "$config/user_settings.ini"
} || result=1

"$here/hixresult" "$result"
exit "$result"
