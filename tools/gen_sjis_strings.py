#!/usr/bin/env python3
"""Writes text/sjis_strings.h: every Japanese text of the program as Shift-JIS
(code page 932) byte escapes, with the readable text beside it.

The program stores its texts in Shift-JIS, whatever compiler builds it, so the
bytes are spelled out instead of relying on an execution-charset option.

    tools/gen_sjis_strings.py          rewrite the header
    tools/gen_sjis_strings.py --check  exit 1 when the header is out of date
"""
import pathlib
import sys

# (constant name, text). "\n" is a line break inside a label.
STRINGS = [
    # Start-up and file messages.
    ("kSdlInitFailed", "SDLの初期化に失敗しました\n"),
    ("kSoundInitFailed", "サウンドの初期化に失敗しました\n"),
    ("kRoomFileFailed", "ルームリストファイルの読み込みに失敗しました\n"),
    # Shared labels and room defaults.
    ("kYes", "はい"),
    ("kNo", "いいえ"),
    ("kDefaultRoomName", "482プロ"),
    ("kDefaultComment", "楽しくやろう！"),
    # Title menu.
    ("kMenuProduce", "プロデュース"),
    ("kMenuFreeBattle", "フリー対戦"),
    ("kMenuNetBattle", "ネット対戦"),
    ("kMenuOption", "オプション"),
    ("kMenuQuit", "終了"),
    ("kHelpProduce", "自分オリジナルのキャラクターを育てよう！"),
    ("kHelpFreeBattle", "フリー対戦で鍛えよう！"),
    ("kHelpNetBattle", "腕に自身が出てきたら\nネットを介して見知らぬ強者と対戦だ！"),
    ("kHelpOption", "キー入力などの設定ができます"),
    ("kHelpQuit", "ゲームを終了します"),
    # Options.
    ("kOptionUp", "上"),
    ("kOptionDown", "下"),
    ("kOptionLeft", "左"),
    ("kOptionRight", "右"),
    ("kOptionConfirm", "決定"),
    ("kOptionCancel", "キャンセル"),
    ("kOptionExtra1", "ボタン１"),
    ("kOptionExtra2", "ボタン２"),
    ("kOptionExtra3", "ボタン３"),
    ("kOptionDefaults", "キー設定を初期状態に戻す"),
    ("kOptionPicture", "画面"),
    ("kOptionBack", "タイトルに戻る"),
    ("kOptionFullscreen", "フルスクリーン"),
    ("kOptionWindow", "ウィンドウ"),
    ("kOptionWaitKey", "割り当てるキーかボタンを押してください\n（キャンセルで元のまま）"),
    ("kHelpOptionKey", "決定で新しいキーかジョイスティックを割り当てます"),
    ("kHelpOptionDefaults", "矢印キー・Z・X・C・Vの初期設定に戻します"),
    ("kHelpOptionPicture", "左右で画面の大きさを選べます、すぐに切り替わります"),
    ("kHelpOptionBack", "設定を保存してタイトルに戻ります"),
    # Character select.
    ("kCharacterSelectTitle", "キャラクター選択"),
    ("kSoraneName", "空野そらね（そらの　そらね）"),
    ("kSoraneDescription", "全体的にバランスが良い反面\nたまに転んだりミスをする。\n"
                           "それをカバーできる運と実力を\n持っていれば使い勝手は非常に良い。"),
    ("kKumodaName", "雲田社長（くもだ　しゃちょう）"),
    ("kKumodaDescription", "ほぅ、私を選んだか。\nさすがお目が高いな！"),
    ("kPlayerLabel", "プレイヤーP"),
    ("kConfirmCharacter", "このキャラクターでよろしいですか？"),
    # Game select.
    ("kGameSelectTitle", "ゲーム選択"),
    # Room list.
    ("kRoomListWait", "ルームリストの更新中です\nしばらくお待ちください"),
    ("kButtonRefresh", "リスト更新"),
    ("kButtonCreateRoom", "ルーム作成"),
    ("kButtonPreviousPage", "←"),
    ("kButtonNextPage", "→"),
    ("kHelpRefresh", "ルームリストを更新します、初めにこれを実行してください\n"
                     "すべて取得するまで時間が掛かる場合があります"),
    ("kHelpCreateRoom", "自分で新しくルームを作成します\n"
                        "※他の人が「RoomList.txt」に追加しないと他の人には見えません！"),
    ("kHelpPreviousPage", "ルームリストを左へ移動します"),
    ("kHelpNextPage", "ルームリストを右へ移動します"),
    # Room lobby.
    ("kRuleSelectTitle", "ルール選択"),
    ("kButtonStart", "開始"),
    ("kButtonReady", "準備OK"),
    ("kButtonGame", "ゲーム"),
    ("kButtonConfig", "コンフィグ"),
    ("kButtonQuit", "終了"),
    ("kButtonCloseRoom", "閉鎖"),
    ("kButtonLeaveRoom", "退出"),
    # Where the host's room can be reached (one line of the host's lobby).
    ("kReachAsking", "ルーターにポートの転送を頼んでいます…"),
    ("kReachInternet", "インターネットから参加できます：　"),
    ("kReachLanOnly", "LANのみ（"),
    ("kReachNoRouter", "ルーターの応答なし"),
    ("kReachNoAnswer", "ルーターが無応答"),
    ("kReachBadAnswer", "ルーターの返事が不正"),
    ("kReachNotConnected", "ルーターが未接続"),
    ("kReachRefused", "ルーターが転送を拒否"),
    ("kReachForward", "）　TCP "),
    ("kReachForwardEnd", " をこのPCへ転送してください"),
    # The router forwards the port, but a second router or the provider's
    # NAT stands in front of it.
    ("kReachOuterNat", "外側にも別のNAT"),
    ("kReachForwardOuter", "）　外側でもTCP "),
    ("kReachForwardOuterEnd", " を転送かaddress=を設定"),
    # The room relayed through the room directory's relay.
    ("kReachRelayed", "リレー経由で参加できます：　"),
    ("kReachRelayGone", "リレーが切れました"),
    ("kReachRelayRetry", "）　リレーにつなぎ直しています…"),
]

HEX = set("0123456789abcdefABCDEF")


def literal(text):
    """A C++ string literal holding text's Shift-JIS bytes. Every byte of a
    two-byte character is escaped (its trail byte may look like ASCII). A hex
    escape swallows every hex digit after it, so a literal is split where one
    follows."""
    out = ['"']
    previous_was_escape = False
    for char in text:
        encoded = char.encode("cp932")
        if len(encoded) > 1 or encoded[0] >= 0x80:
            out.extend("\\x%02X" % byte for byte in encoded)
            previous_was_escape = True
            continue
        if previous_was_escape and char in HEX:
            out.append('" "')
        previous_was_escape = False
        if char == "\n":
            out.append("\\n")
        elif char in '"\\':
            out.append("\\" + char)
        else:
            out.append(char)
    out.append('"')
    return "".join(out)


def header():
    lines = [
        "// Generated by tools/gen_sjis_strings.py; edit the table there.",
        "// The program's texts as Shift-JIS bytes, readable text alongside.",
        "#pragma once",
        "// clang-format off",
        "",
        "namespace sjis {",
        "",
    ]
    for name, text in STRINGS:
        readable = text.replace("\n", "\\n")
        lines.append("// " + readable)
        lines.append("inline constexpr char %s[] = %s;" % (name, literal(text)))
    lines += ["", "}  // namespace sjis", ""]
    return "\n".join(lines)


def main():
    path = pathlib.Path(__file__).resolve().parent.parent / "text" / "sjis_strings.h"
    wanted = header()
    if "--check" in sys.argv[1:]:
        if not path.exists() or path.read_text(encoding="utf-8") != wanted:
            print("%s is out of date: run tools/gen_sjis_strings.py" % path)
            return 1
        return 0
    path.write_text(wanted, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
