# bash completion for kestrel-cli: commands, their options and output types.

_kestrel_cli() {
    local cur prev cmd i
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    local commands="settings list info fast convert extract play formats help"
    local types="mp3 exe wav wma aac adts m4a amr flv avi"

    # The command: the first word that is no option (or the value of --home).
    cmd=
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        --home) ((i++)) ;;
        -*) ;;
        *) cmd=${COMP_WORDS[i]}; break ;;
        esac
    done

    if [[ -z $cmd ]]; then
        if [[ $prev == --home ]]; then
            COMPREPLY=($(compgen -d -- "$cur"))
        elif [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--home --help --version -h -q -v" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    case $cmd in
    help)
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return
        ;;
    settings)
        if ((COMP_CWORD == i + 1)); then
            COMPREPLY=($(compgen -W "get set path --help" -- "$cur"))
        elif ((COMP_CWORD == i + 2)) && [[ $prev == get || $prev == set ]]; then
            COMPREPLY=($(compgen -W "display_mode skin_colour title_style border_style
                window_alpha wma_codec wma_format exe_variable_speed exe_password_on
                exe_password exe_description amr_mono_mode amr_mode aac_profile
                aac_bit_rate aac_quality aac_sample_rate aac_channels aac_mono_mode
                mp3_rate_mode mp3_vbr_quality mp3_vbr_min_kbps mp3_vbr_max_kbps
                mp3_abr_kbps mp3_cbr_kbps mp3_version mp3_sample_rate output_type
                save_mode conversion_mode mp3_channels mp3_mono_mode save_path" -- "$cur"))
        elif ((COMP_CWORD == i + 3)); then
            case $prev in
            output_type) COMPREPLY=($(compgen -W "$types" -- "$cur")) ;;
            *mono_mode) COMPREPLY=($(compgen -W "mix left right" -- "$cur")) ;;
            mp3_rate_mode) COMPREPLY=($(compgen -W "cbr vbr abr" -- "$cur")) ;;
            conversion_mode) COMPREPLY=($(compgen -W "realtime double silent" -- "$cur")) ;;
            save_mode) COMPREPLY=($(compgen -W "separate join" -- "$cur")) ;;
            save_path) COMPREPLY=($(compgen -d -- "$cur")) ;;
            esac
        fi
        return
        ;;
    list)
        if ((COMP_CWORD == i + 1)); then
            COMPREPLY=($(compgen -W "add delete save --json --help" -- "$cur"))
        elif [[ ${COMP_WORDS[i+1]} == add ]]; then
            COMPREPLY=($(compgen -f -- "$cur"))
        fi
        return
        ;;
    convert)
        case $prev in
        -t | --type) COMPREPLY=($(compgen -W "$types" -- "$cur")); return ;;
        --mode) COMPREPLY=($(compgen -W "realtime double silent" -- "$cur")); return ;;
        --mono) COMPREPLY=($(compgen -W "mix left right" -- "$cur")); return ;;
        -r) COMPREPLY=($(compgen -W "8000 11025 12000 16000 22050 24000 32000 44100 48000" -- "$cur")); return ;;
        -o) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --aac-rate) COMPREPLY=($(compgen -W "64000 80000 96000 112000 128000 160000 192000 224000 256000" -- "$cur")); return ;;
        --aac-profile) COMPREPLY=($(compgen -W "lc main ssr ltp" -- "$cur")); return ;;
        --amr-mode) COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7" -- "$cur")); return ;;
        --wma-codec) COMPREPLY=($(compgen -W "0 1" -- "$cur")); return ;;
        --tag-charset) COMPREPLY=($(compgen -W "auto latin1 gb18030" -- "$cur")); return ;;
        --tag) COMPREPLY=($(compgen -S = -W "title artist album album_artist track disc year genre comment" -- "$cur")); compopt -o nospace; return ;;
        -b | --abr | --vbr | --min | --max | -j | --threads | --wma-format | --exe-password | --exe-description | --name) return ;;
        esac
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "-t -o -b -r -j -y -q --join --mode --vbr --min --max
                --abr --mono --stamp --progress --json --aac-rate --aac-profile --amr-mode
                --wma-codec --wma-format --exe-password --exe-speed --exe-description
                --no-tags --tag --tag-charset --name --threads --help" -- "$cur"))
            return
        fi
        ;;
    fast)
        [[ $prev == -o ]] && { COMPREPLY=($(compgen -f -- "$cur")); return; }
        [[ $cur == -* ]] && { COMPREPLY=($(compgen -W "-o -y -q --json --help" -- "$cur")); return; }
        ;;
    play)
        [[ $prev == --seconds || $prev == --seek ]] && return
        [[ $cur == -* ]] && { COMPREPLY=($(compgen -W "--seconds --seek --help" -- "$cur")); return; }
        ;;
    formats)
        if ((COMP_CWORD == i + 1)); then
            COMPREPLY=($(compgen -W "wma --help" -- "$cur"))
        fi
        return
        ;;
    extract)
        [[ $prev == -o ]] && { COMPREPLY=($(compgen -f -X '!*.mp3' -- "$cur")); return; }
        [[ $prev == --password ]] && return
        [[ $cur == -* ]] && { COMPREPLY=($(compgen -W "-o -y --password --json --help" -- "$cur")); return; }
        COMPREPLY=($(compgen -f -X '!*.[eE][xX][eE]' -- "$cur"))
        return
        ;;
    info)
        [[ $prev == --tag-charset ]] && { COMPREPLY=($(compgen -W "auto latin1 gb18030" -- "$cur")); return; }
        [[ $cur == -* ]] && { COMPREPLY=($(compgen -W "--json --tag-charset --help" -- "$cur")); return; }
        ;;
    esac
    COMPREPLY=($(compgen -f -- "$cur"))
}

complete -o filenames -o bashdefault -F _kestrel_cli kestrel-cli
