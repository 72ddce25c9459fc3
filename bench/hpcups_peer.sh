# Sourced by the bench scripts that compare with HPLIP's hpcups. hpcups_peer NAME FOLDER
# installs the peer (printer-driver-hpcups) when it is missing, as the project's set-up
# installs its packages, compiles hpcups.drv into FOLDER with ppdc and sets peer_ppd to the
# first HP Deskjet's PPD, by file name, whose default output mode is colour (RGB) at
# 300 x 300 dpi, and peer_model to its model name. NAME is the script's, for its messages.
hpcups_peer() {
  local name=$1 folder=$2 drv ppd
  if ! dpkg-query -W -f='${Status}' printer-driver-hpcups 2>/dev/null \
      | grep -q "install ok installed"; then
    echo "$name: installing printer-driver-hpcups" >&2
    local sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then
      sudo_cmd=(sudo)
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
      --no-install-recommends printer-driver-hpcups
  fi
  drv=$(dpkg -L printer-driver-hpcups | grep '/hpcups\.drv$' | head -1)
  mkdir -p "$folder"
  ppdc -d "$folder" "$drv" 2>/dev/null
  peer_ppd=""
  for ppd in $(ls "$folder" | sort); do
    if awk '
        /^\*ColorDevice: True/ { colour = 1 }
        /^\*ModelName:/ { model = tolower($0) }
        /^\*DefaultOutputMode:/ { mode = $2 }
        /^\*OutputMode / { split($2, name, "/"); code[name[1]] = $0 }
        END { exit !(colour && model ~ /deskjet/ && code[mode] ~ /HWResolution\[300 300\]/ \
          && code[mode] ~ /cupsColorSpace 1\//) }' "$folder/$ppd"; then
      peer_ppd=$folder/$ppd
      break
    fi
  done
  if [ -z "$peer_ppd" ]; then
    echo "$name: no 300-dpi colour ink-jet in $drv" >&2
    exit 1
  fi
  peer_model=$(sed -n 's/^\*ModelName: "\(.*\)"/\1/p' "$peer_ppd")
}
