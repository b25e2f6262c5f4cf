# SPDX-License-Identifier: GPL-2.0-or-later
# bash completion for tamsel-cli
#
# The options and what their values are come from "tamsel-cli --help" itself
# (an option line is "  -o, --output FILE  text"), so that a new option
# completes without an edit here: a value named *DIR completes folders, *FILE
# files, a|b|c those words; --encoding offers the encodings --help lists.

_tamsel_cli_help() {
  "$1" --help 2>/dev/null
}

# The value that OPTION takes, as its --help line names it; nothing for a flag.
_tamsel_cli_metavar() {
  local line word found= fields
  while IFS= read -r line; do
    [[ $line =~ ^\ {1,6}- ]] || continue
    read -ra fields <<<"$line"
    for word in "${fields[@]}"; do
      if [[ -n $found && $word != -* ]]; then
        # A value is named in capitals (FILE, SRC_DIR) or lists its words
        # (lf|crlf); anything else already describes a flag.
        [[ $word =~ ^[A-Z][A-Z0-9_]*$ || $word == *\|* ]] && printf '%s\n' "$word"
        return
      fi
      [[ ${word%,} == "$2" ]] && found=1
      [[ $word == -* ]] || break
    done
  done <<<"$1"
}

_tamsel_cli() {
  local cur prev words cword split
  _init_completion -s || return

  local help
  help=$(_tamsel_cli_help "$1")

  if [[ $prev == -* ]]; then
    local metavar
    metavar=$(_tamsel_cli_metavar "$help" "$prev")
    if [[ -n $metavar ]]; then
      case $prev,$metavar in
        --encoding,*)
          # "Encodings: utf8, win1252, ..., raw, or any name iconv knows"
          local names
          names=$(sed -n '/^Encodings:/,/or any/p' <<<"$help" | sed 's/^Encodings://; s/or any.*//')
          COMPREPLY=($(compgen -W "auto ${names//,/ }" -- "$cur"))
          ;;
        *,*DIR) _filedir -d ;;
        *,*FILE) _filedir ;;
        *,*\|*) COMPREPLY=($(compgen -W "${metavar//|/ }" -- "$cur")) ;;
        *) COMPREPLY=() ;;
      esac
      return
    fi
  fi
  $split && return

  if [[ $cur == -* ]]; then
    local line word fields options=()
    while IFS= read -r line; do
      [[ $line =~ ^\ {1,6}- ]] || continue
      read -ra fields <<<"$line"
      for word in "${fields[@]}"; do
        [[ $word == -* ]] || break
        options+=("${word%,}")
      done
    done <<<"$help"
    COMPREPLY=($(compgen -W "${options[*]}" -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
    return
  fi

  _filedir '@(htm|html|xhtml|HTM|HTML|XHTML)'
} &&
  complete -F _tamsel_cli tamsel-cli
