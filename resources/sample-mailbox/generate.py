#!/usr/bin/env python3
"""Writes the demo mailbox: one .eml file per message, as a mail client would
receive it (ISO-2022-JP bodies, subjects as upper-case B encoded words, CR LF
line ends). Run it from anywhere; it rewrites the .eml files next to itself.

Three made-up mail magazines with several issues each, plus two messages that
belong to no magazine (they show the "other new mail" notice)."""
import base64
import os

HERE = os.path.dirname(os.path.abspath(__file__))

MAGAZINES = {
    "larkspur": {
        "from": "Larkspur通信編集部 <news@larkspur.example.jp>",
        "prefix": "【ラークスパー通信】",
        "issues": [
            ("第1号 創刊のごあいさつ", [
                "読者のみなさま、はじめまして。",
                "ラークスパー通信の創刊号をお届けします。",
                "",
                "この通信では、メールマガジンを読みやすく保存する方法を",
                "毎週ひとつずつご紹介していきます。",
                "",
                "■今週の話題：保存と整理",
                "受け取ったメールは、件名で振り分けると後から探しやすくなります。",
                "詳しくはウェブサイトをご覧ください。",
                "  https://larkspur.example.jp/news/001.html",
                "",
                "ご意見・ご感想はこちらまで：",
                "  letters@larkspur.example.jp",
            ]),
            ("第2号 件名で振り分けるコツ", [
                "こんにちは、ラークスパー通信です。",
                "",
                "■今週の話題：件名の決まりごと",
                "多くのメールマガジンは、件名の先頭に決まった文字列を付けています。",
                "たとえば「【ラークスパー通信】」のような括弧書きです。",
                "この先頭部分を検索文字列として登録すると、号ごとに自動で整理できます。",
                "",
                "バックナンバー：http://larkspur.example.jp/news/",
                "配信停止：stop@larkspur.example.jp に空メールを送ってください。",
            ]),
            ("第3号 読者のおたより特集", [
                "ラークスパー通信、第3号です。",
                "",
                "■読者のおたより",
                "「毎号たのしみにしています。過去の号を読み返せるのが便利です。」",
                "（東京都・みどりさん）",
                "",
                "「ブラウザで目次から読めるので、家族にも勧めました。」",
                "（大阪府・そらさん）",
                "",
                "おたよりは letters@larkspur.example.jp まで。",
                "掲載分には記念のしおりをお送りします。",
                "  https://larkspur.example.jp/present/",
            ]),
            ("第4号 夏休み号のお知らせ", [
                "いつもご愛読ありがとうございます。",
                "",
                "来週は夏休みのため、配信をお休みします。",
                "次号は再来週の月曜日にお届けする予定です。",
                "",
                "休み中もウェブサイトは更新します：",
                "  https://larkspur.example.jp/",
                "",
                "編集部　news@larkspur.example.jp",
            ]),
        ],
    },
    "ryori": {
        "from": "やまびこ料理便り <tayori@yamabiko-ryori.example.jp>",
        "prefix": "[やまびこ料理便り]",
        "issues": [
            ("Vol.1 たけのこご飯", [
                "やまびこ料理便り　Vol.1",
                "",
                "◇今月の一品：たけのこご飯",
                "・米　　　　　二合",
                "・ゆでたけのこ　百五十グラム",
                "・油あげ　　　一枚",
                "・だし、しょうゆ、みりん　各少々",
                "",
                "たけのこは薄切りに、油あげは細切りにして、",
                "調味料と一緒に炊飯器で炊くだけです。",
                "",
                "写真つきの作り方：http://yamabiko-ryori.example.jp/recipe/takenoko",
                "レシピ投稿：recipe@yamabiko-ryori.example.jp",
            ]),
            ("Vol.2 新じゃがの煮っころがし", [
                "やまびこ料理便り　Vol.2",
                "",
                "◇今月の一品：新じゃがの煮っころがし",
                "皮ごと洗った新じゃがを、砂糖としょうゆで照りよく煮ます。",
                "小さめのじゃがいもを選ぶと、味がよくしみます。",
                "",
                "https://yamabiko-ryori.example.jp/recipe/nikkorogashi",
                "",
                "◇お知らせ",
                "料理教室の参加者を募集中です。",
                "申し込みは class@yamabiko-ryori.example.jp へどうぞ。",
            ]),
            ("Vol.3 冷やし茶わん蒸し", [
                "やまびこ料理便り　Vol.3",
                "",
                "◇今月の一品：冷やし茶わん蒸し",
                "卵一個に、だし百五十ミリリットルが目安です。",
                "蒸しあがったら冷蔵庫でよく冷やし、銀あんをかけていただきます。",
                "",
                "動画で見る：http://yamabiko-ryori.example.jp/movie/chawanmushi",
                "",
                "次回は秋の炊き込みご飯をお届けします。",
            ]),
        ],
    },
    "hoshi": {
        "from": "星空観察メモ <memo@hoshizora.example.jp>",
        "prefix": "◆星空観察メモ◆",
        "issues": [
            ("No.1 夏の大三角を探そう", [
                "◆星空観察メモ◆　No.1",
                "",
                "夏の夜、東の空を見上げると、明るい星が三つ見つかります。",
                "こと座のベガ、わし座のアルタイル、はくちょう座のデネブ。",
                "この三つを結んだ形が「夏の大三角」です。",
                "",
                "星図はこちら：https://hoshizora.example.jp/map/summer",
                "観察記録の投稿：report@hoshizora.example.jp",
            ]),
            ("No.2 流星群の見かた", [
                "◆星空観察メモ◆　No.2",
                "",
                "今月はペルセウス座流星群の季節です。",
                "街あかりの少ない場所で、空全体をぼんやり眺めるのがコツです。",
                "目が暗さに慣れるまで、十五分ほど待ちましょう。",
                "",
                "観察会のご案内：http://hoshizora.example.jp/event/",
                "問い合わせ：event@hoshizora.example.jp",
            ]),
        ],
    },
}

OTHER = [
    ("メンテナンスのお知らせ", "プロバイダ事務局 <info@provider.example.jp>", [
        "いつもご利用ありがとうございます。",
        "来週火曜日の午前二時から四時まで、メールサーバーの保守作業を行います。",
        "詳細：https://provider.example.jp/maintenance",
    ]),
    ("同窓会の出欠について", "山田 太郎 <taro@example.jp>", [
        "みなさま、お元気ですか。",
        "同窓会の出欠を、今月末までに taro@example.jp へお返事ください。",
        "会場の地図：http://example.jp/map.html",
    ]),
]


def jis(text):
    return text.encode("iso2022_jp")


def encoded_subject(text):
    """Subject header value as upper-case B encoded words, each at most 75
    characters and each a complete ISO-2022-JP run, folded with CR LF SP."""
    words = []
    chunk = ""
    for ch in text:
        trial = chunk + ch
        if len(base64.b64encode(jis(trial))) > 75 - 18 and chunk:
            words.append(chunk)
            chunk = ch
        else:
            chunk = trial
    if chunk:
        words.append(chunk)
    encoded = ["=?ISO-2022-JP?B?" + base64.b64encode(jis(w)).decode() + "?=" for w in words]
    return "\r\n ".join(encoded)


def encoded_from(text):
    name, address = text.rsplit(" ", 1)
    return "=?ISO-2022-JP?B?" + base64.b64encode(jis(name)).decode() + "?= " + address


def message(subject, sender, body, day, serial):
    header = [
        "Return-Path: <%s>" % sender.rsplit("<", 1)[1].rstrip(">"),
        "Message-ID: <%04d.%s>" % (serial, sender.rsplit("@", 1)[1].rstrip(">")),
        "Date: %s, %02d Jun 2026 07:%02d:00 +0900" % (
            ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"][day % 7], day, serial % 60),
        "From: " + encoded_from(sender),
        "To: reader@example.jp",
        "Subject: " + encoded_subject(subject),
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=ISO-2022-JP",
        "Content-Transfer-Encoding: 7bit",
    ]
    out = b"\r\n".join(line.encode("ascii") for line in header) + b"\r\n\r\n"
    out += b"".join(jis(line) + b"\r\n" for line in body)
    return out


def main():
    for name in os.listdir(HERE):
        if name.endswith(".eml"):
            os.remove(os.path.join(HERE, name))
    # Interleave the issues as they would arrive over a few weeks.
    queue = []
    for key, mag in MAGAZINES.items():
        for i, (title, body) in enumerate(mag["issues"]):
            queue.append((i, key, mag["prefix"] + title, mag["from"], body))
    queue.sort(key=lambda item: (item[0], item[1]))
    queue.insert(3, (0, "other", OTHER[0][0], OTHER[0][1], OTHER[0][2]))
    queue.insert(8, (0, "other", OTHER[1][0], OTHER[1][1], OTHER[1][2]))
    for serial, (_, key, subject, sender, body) in enumerate(queue, start=1):
        data = message(subject, sender, body, serial + 1, serial)
        with open(os.path.join(HERE, "%02d-%s.eml" % (serial, key)), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
