<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja_JP">
<context>
    <name>CRidelogApp</name>
    <message>
        <source>シミュレーションのカードリーダ</source>
        <translation>the simulated reader</translation>
    </message>
    <message>
        <source>カードリーダ</source>
        <translation>the card reader</translation>
    </message>
    <message>
        <source>%1を使うアプリケーションが既に起動しています。</source>
        <translation>An application that uses %1 is already running.</translation>
    </message>
</context>
<context>
    <name>CardLibraryMenu</name>
    <message>
        <source>%1件</source>
        <translation>%1 entries</translation>
    </message>
    <message>
        <source>%1 保存された履歴（カードから読み取っていません）</source>
        <translation>%1 stored history (not read from the card)</translation>
    </message>
    <message>
        <source>カード名の変更</source>
        <translation>Rename Card</translation>
    </message>
    <message>
        <source>カード %1 の名前（空にするとIDmで表示します）：</source>
        <translation>Name of card %1 (empty: shown by its IDm):</translation>
    </message>
    <message>
        <source>%1（保存された履歴） - 交通費履歴読出</source>
        <translation>%1 (stored history) - Transit Fare History</translation>
    </message>
    <message>
        <source>%1 - 交通費履歴読出</source>
        <translation>%1 - Transit Fare History</translation>
    </message>
</context>
<context>
    <name>ClaimFormText</name>
    <message>
        <source>日付不明</source>
        <translation>Date unknown</translation>
    </message>
    <message>
        <source>yyyy/MM/dd</source>
        <translation>d MMM yyyy</translation>
    </message>
    <message>
        <source>yyyy年M月</source>
        <translation>MMMM yyyy</translation>
    </message>
    <message>
        <source>（利用なし）</source>
        <translation>(no entries)</translation>
    </message>
    <message>
        <source>%1 ～ %2</source>
        <translation>%1 – %2</translation>
    </message>
    <message>
        <source>不明</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>交通費精算書</source>
        <translation>Travel Expense Claim</translation>
    </message>
    <message>
        <source>氏名</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>所属</source>
        <translation>Department</translation>
    </message>
    <message>
        <source>期間</source>
        <translation>Period</translation>
    </message>
    <message>
        <source>カード</source>
        <translation>Card</translation>
    </message>
    <message>
        <source>作成日</source>
        <translation>Made on</translation>
    </message>
    <message>
        <source>区分</source>
        <translation>Kind</translation>
    </message>
    <message>
        <source>時刻</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>入 %1</source>
        <translation>in %1</translation>
    </message>
    <message>
        <source>出 %1</source>
        <translation>out %1</translation>
    </message>
    <message>
        <source>精算にチェックした利用のみ</source>
        <translation>Only entries marked for claiming</translation>
    </message>
    <message>
        <source>すべての利用</source>
        <translation>All entries</translation>
    </message>
    <message>
        <source>日付</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>乗車・店舗</source>
        <translation>From / shop</translation>
    </message>
    <message>
        <source>降車</source>
        <translation>To</translation>
    </message>
    <message>
        <source>用途</source>
        <translation>Purpose</translation>
    </message>
    <message>
        <source>金額</source>
        <translation>Amount</translation>
    </message>
    <message>
        <source>%1 小計</source>
        <translation>Subtotal %1</translation>
    </message>
    <message>
        <source>合計（%1 件）</source>
        <translation>Total (%1 entries)</translation>
    </message>
    <message>
        <source>※ 履歴の欠落をまたぐ金額（括弧内）と、最も古い利用の不明な金額は合計に含まれていません（%1 件）。</source>
        <translation>※ Amounts in brackets span missing history and the amount of the oldest entry is unknown; neither is in the total (%1 entries).</translation>
    </message>
    <message>
        <source>作成日 %1</source>
        <translation>Made on %1</translation>
    </message>
    <message>
        <source>%1 / %2 ページ</source>
        <translation>Page %1 of %2</translation>
    </message>
    <message>
        <source>%1円</source>
        <translation>¥%1</translation>
    </message>
    <message>
        <source>バス</source>
        <translation>Bus</translation>
    </message>
    <message>
        <source>物販</source>
        <translation>Shop</translation>
    </message>
    <message>
        <source>鉄道</source>
        <translation>Rail</translation>
    </message>
    <message>
        <source>対象</source>
        <translation>Entries</translation>
    </message>
</context>
<context>
    <name>ClearingCommands</name>
    <message>
        <source>データベースにアクセスできません</source>
        <translation>Cannot access the database</translation>
    </message>
    <message>
        <source>カードがまだ読み取られていないため、削除する履歴はありません。</source>
        <translation>No card has been read yet, so there is no history to delete.</translation>
    </message>
    <message>
        <source>カード %1 の履歴は保存されていません。</source>
        <translation>No history of card %1 is stored.</translation>
    </message>
    <message>
        <source>カード %1 の保存済み履歴 %2 件をすべて削除します。<byte value="xd"/>
そのうち %3 件はカードに残っていないため、二度と読み戻せません。<byte value="xd"/>
削除しますか？</source>
        <translation>All %2 stored entries of card %1 will be deleted.<byte value="xd"/>
%3 of them are no longer on the card and can never be read back.<byte value="xd"/>
Delete them?</translation>
    </message>
    <message>
        <source>カード %1 の保存済み履歴 %2 件をすべて削除します。<byte value="xd"/>
そのうち %3 件はカードに残っていないため、二度と読み戻せません。<byte value="xd"/>
履歴に付けた用途・精算の記録 %4 件も削除されます。<byte value="xd"/>
削除しますか？</source>
        <translation>All %2 stored entries of card %1 will be deleted.<byte value="xd"/>
%3 of them are no longer on the card and can never be read back.<byte value="xd"/>
The %4 purposes and claim marks noted on them are deleted too.<byte value="xd"/>
Delete them?</translation>
    </message>
</context>
<context>
    <name>DatabaseProblem</name>
    <message>
        <source>履歴データベースが壊れているか、このプログラムのファイルではありません。<byte value="xd"/>
このファイルにはもう書き込みません。</source>
        <translation>The history database is damaged or not a file of this program.<byte value="xd"/>
Nothing more is written to it.</translation>
    </message>
    <message>
        <source>履歴データベースがほかのプログラムに使われています。</source>
        <translation>The history database is in use by another program.</translation>
    </message>
    <message>
        <source>ディスクがいっぱいで、履歴データベースに書き込めません。</source>
        <translation>The disk is full; the history database cannot be written.</translation>
    </message>
    <message>
        <source>履歴データベースを読み書きできません。</source>
        <translation>The history database cannot be read or written.</translation>
    </message>
    <message>
        <source>履歴データベースでエラーが起きました。</source>
        <translation>An error occurred in the history database.</translation>
    </message>
    <message>
        <source>履歴を保存していません</source>
        <translation>History not kept</translation>
    </message>
    <message>
        <source>データフォルダを作成できません。</source>
        <translation>The data folder cannot be created.</translation>
    </message>
    <message>
        <source>保存済みの履歴を読み込めなかったため、今回の読み取りは保存していません。</source>
        <translation>The stored history could not be loaded, so this read was not stored.</translation>
    </message>
</context>
<context>
    <name>DetailForm</name>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>HistoryExport</name>
    <message>
        <source>CSV (カンマ区切り) (*csv)</source>
        <translation>CSV (comma-separated) (*csv)</translation>
    </message>
    <message>
        <source>テキスト形式(*.txt)</source>
        <translation>Text (*.txt)</translation>
    </message>
    <message>
        <source>ファイルを作成できません。</source>
        <translation>Cannot create the file.</translation>
    </message>
    <message>
        <source>ファイルに書き込めませんでした。</source>
        <translation>Could not write the file.</translation>
    </message>
    <message>
        <source>ディスクの空き容量が足りません。</source>
        <translation>There is not enough free space on the disk.</translation>
    </message>
    <message>
        <source>ファイルが大きすぎます。</source>
        <translation>The file is too large.</translation>
    </message>
    <message>
        <source>書き込む権限がありません。</source>
        <translation>You have no permission to write there.</translation>
    </message>
    <message>
        <source>読み取り専用のファイルシステムです。</source>
        <translation>The file system is read-only.</translation>
    </message>
    <message>
        <source>フォルダがありません。</source>
        <translation>The folder does not exist.</translation>
    </message>
    <message>
        <source>同じ名前のフォルダがあります。</source>
        <translation>A folder of that name is there.</translation>
    </message>
    <message>
        <source>通常のファイルではありません。</source>
        <translation>That is not a regular file.</translation>
    </message>
    <message>
        <source>ファイルが最後まで書き込まれませんでした。</source>
        <translation>The file was not written to its end.</translation>
    </message>
    <message>
        <source>入出力エラーが発生しました。</source>
        <translation>An input/output error occurred.</translation>
    </message>
    <message>
        <source>CSV UTF-8 見出し付き (*.csv)</source>
        <translation>CSV UTF-8 with headings (*.csv)</translation>
    </message>
    <message>
        <source>JSON (*.json)</source>
        <translation>JSON (*.json)</translation>
    </message>
    <message>
        <source>ファイルに保存</source>
        <translation>Save to File</translation>
    </message>
</context>
<context>
    <name>HistoryList</name>
    <message>
        <source>日付</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>時刻</source>
        <translation>Times</translation>
    </message>
    <message>
        <source>端末</source>
        <translation>Terminal</translation>
    </message>
    <message>
        <source>処理</source>
        <translation>Transaction</translation>
    </message>
    <message>
        <source>入場駅</source>
        <translation>Entry</translation>
    </message>
    <message>
        <source>出場駅</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>料金</source>
        <translation>Amount</translation>
    </message>
    <message>
        <source>用途</source>
        <translation>Purpose</translation>
    </message>
    <message>
        <source>カードの履歴の通し番号</source>
        <translation>Serial number of the entry on the card</translation>
    </message>
    <message>
        <source>入場駅（バスは停留所、物販は店舗）</source>
        <translation>Entry station (the stop of a bus ride, the shop of a purchase)</translation>
    </message>
    <message>
        <source>出場駅（物販は時刻）</source>
        <translation>Exit station (the time of a purchase)</translation>
    </message>
</context>
<context>
    <name>MessageBox</name>
    <message>
        <source>はい(&amp;Y)</source>
        <translation>&amp;Yes</translation>
    </message>
    <message>
        <source>いいえ(&amp;N)</source>
        <translation>&amp;No</translation>
    </message>
</context>
<context>
    <name>MissedHistory</name>
    <message>
        <source>カードには最新の20件の履歴しか残りません。今回読み取った20件はどれも保存済みの履歴に含まれていないため、前回の読み取りからこの間までの履歴が失われている可能性があります。</source>
        <translation>A card keeps only its 20 most recent entries. None of the 20 entries read this time is among the stored history, so entries between the previous read and these may be lost.</translation>
    </message>
    <message>
        <source>この金額は欠けている可能性のある履歴の分も含む残額の差です。1回の料金ではありません。</source>
        <translation>This amount is the difference of the balances across possibly missing entries, not the fare of one transaction.</translation>
    </message>
</context>
<context>
    <name>NameStatus</name>
    <message>
        <source>名前の出所: 内蔵の駅名データ (%1)</source>
        <translation>Names from: built-in station names (%1)</translation>
    </message>
    <message>
        <source>名前の出所: 駅名サーバー %1</source>
        <translation>Names from: station-name server %1</translation>
    </message>
    <message>
        <source>内蔵の駅名を使用 (駅名サーバー不通)</source>
        <translation>built-in names (server unreachable)</translation>
    </message>
    <message>
        <source>駅名サーバーに接続できません</source>
        <translation>cannot connect to the name server</translation>
    </message>
    <message>
        <source>駅名サーバーが応答しません</source>
        <translation>the name server does not answer</translation>
    </message>
    <message>
        <source>駅名サーバーのエラー (%1)</source>
        <translation>name server error (%1)</translation>
    </message>
    <message>
        <source>駅名サーバーの応答が大きすぎます</source>
        <translation>the name server&apos;s answer is too large</translation>
    </message>
    <message>
        <source>駅名サーバーとの通信に失敗しました</source>
        <translation>talking to the name server failed</translation>
    </message>
    <message>
        <source>内蔵の駅名データを読めません</source>
        <translation>cannot read the built-in station names</translation>
    </message>
    <message>
        <source>どの名前も分かっているので問い合わせていません</source>
        <translation>Every name is known, so nothing was asked.</translation>
    </message>
    <message>
        <source>内蔵の駅名データ: %1</source>
        <translation>Built-in station names: %1</translation>
    </message>
    <message>
        <source>駅名サーバー: %1</source>
        <translation>Station-name server: %1</translation>
    </message>
</context>
<context>
    <name>ReaderLibrary</name>
    <message>
        <source>リーダーのトレースを再生できません。</source>
        <translation>The reader trace cannot be played back.</translation>
    </message>
    <message>
        <source>ICカードリーダ ドライバが<byte value="xd"/>
インストールされていません。</source>
        <translation>The IC card reader driver<byte value="xd"/>
is not installed.</translation>
    </message>
    <message>
        <source>ICカードリーダが接続されていません。<byte value="xd"/>
接続と再起動が必要です。</source>
        <translation>No IC card reader is connected.<byte value="xd"/>
Connect it and start the program again.</translation>
    </message>
    <message>
        <source>予期しないエラーが発生しました。</source>
        <translation>An unexpected error occurred.</translation>
    </message>
</context>
<context>
    <name>ReaderPane</name>
    <message>
        <source>ICカードリーダ: %1</source>
        <translation>IC card reader: %1</translation>
    </message>
</context>
<context>
    <name>TotalsCharts</name>
    <message>
        <source>鉄道</source>
        <translation>Rail</translation>
    </message>
    <message>
        <source>バス</source>
        <translation>Bus</translation>
    </message>
    <message>
        <source>物販</source>
        <translation>Shopping</translation>
    </message>
    <message>
        <source>%1円</source>
        <translation>%1 yen</translation>
    </message>
    <message>
        <source>%1 %2 %3</source>
        <translation>%1 %2 %3</translation>
    </message>
    <message>
        <source>%1 残高 %2</source>
        <translation>%1 balance %2</translation>
    </message>
    <message>
        <source>この日の前に履歴が欠落している可能性があります</source>
        <translation>History may be missing before this day</translation>
    </message>
    <message>
        <source>月ごとの支出</source>
        <translation>Spending per month</translation>
    </message>
    <message>
        <source>残高の推移（日ごと）</source>
        <translation>Balance at the end of each day</translation>
    </message>
    <message>
        <source>残高</source>
        <translation>Balance</translation>
    </message>
    <message>
        <source>履歴欠落</source>
        <translation>Missing history</translation>
    </message>
</context>
<context>
    <name>ridelog::CAboutDlg</name>
    <message>
        <source>バージョン情報 交通費履歴</source>
        <translation>About Transit Fare History</translation>
    </message>
    <message>
        <source>MIT ライセンス</source>
        <translation>MIT licence</translation>
    </message>
    <message>
        <source>内蔵の駅名データ: suica-viewer プロジェクトと ICCardManager プロジェクトの駅コード表（Copyright 2025 KIRISHIKI Yudai、2025 kuwayamamasayuki、どちらも %1）</source>
        <translation>Built-in station names: the station code tables of the suica-viewer and ICCardManager projects (Copyright 2025 KIRISHIKI Yudai, 2025 kuwayamamasayuki, both %1)</translation>
    </message>
    <message>
        <source>交通費履歴読出 バージョン %1</source>
        <translation>Transit Fare History (Ridelog) version %1</translation>
    </message>
    <message>
        <source>駅名: 内蔵の駅名データ</source>
        <translation>Station names: built-in station data</translation>
    </message>
    <message>
        <source>駅名: 駅名サーバ %1（つながらないときは内蔵の駅名データ）</source>
        <translation>Station names: name server %1 (the built-in station data when it cannot be reached)</translation>
    </message>
</context>
<context>
    <name>ridelog::CBpnDetailDlg</name>
    <message>
        <source>注意：<byte value="xd"/>
店舗情報は、必ずしも正確ではありません。</source>
        <translation>Note:<byte value="xd"/>
The shop information is not always accurate.</translation>
    </message>
    <message>
        <source>店舗 詳細</source>
        <translation>Shop Details</translation>
    </message>
    <message>
        <source>日付：</source>
        <translation>Date:</translation>
    </message>
    <message>
        <source>時刻：</source>
        <translation>Time:</translation>
    </message>
    <message>
        <source>端末：</source>
        <translation>Terminal:</translation>
    </message>
    <message>
        <source>処理：</source>
        <translation>Transaction:</translation>
    </message>
    <message>
        <source>支払額:</source>
        <translation>Amount paid:</translation>
    </message>
    <message>
        <source>円</source>
        <translation>yen</translation>
    </message>
    <message>
        <source>残額：</source>
        <translation>Balance:</translation>
    </message>
    <message>
        <source>店舗情報:</source>
        <translation>Shop information:</translation>
    </message>
    <message>
        <source>コード：</source>
        <translation>Code:</translation>
    </message>
    <message>
        <source>会社名：</source>
        <translation>Company:</translation>
    </message>
    <message>
        <source>店舗名：</source>
        <translation>Shop:</translation>
    </message>
    <message>
        <source>レジ名：</source>
        <translation>Register:</translation>
    </message>
</context>
<context>
    <name>ridelog::CClaimFormDlg</name>
    <message>
        <source>精算書を作成</source>
        <translation>Make a Claim Form</translation>
    </message>
    <message>
        <source>カード(&amp;R)：</source>
        <translation>Ca&amp;rd:</translation>
    </message>
    <message>
        <source>期間(&amp;D)：</source>
        <translation>&amp;Dates:</translation>
    </message>
    <message>
        <source>～</source>
        <translation>–</translation>
    </message>
    <message>
        <source>精算にチェックした利用のみ</source>
        <translation>Only entries marked for claiming</translation>
    </message>
    <message>
        <source>すべての利用</source>
        <translation>All entries</translation>
    </message>
    <message>
        <source>対象：</source>
        <translation>Entries:</translation>
    </message>
    <message>
        <source>氏名(&amp;N)：</source>
        <translation>&amp;Name:</translation>
    </message>
    <message>
        <source>所属(&amp;B)：</source>
        <translation>Depart&amp;ment:</translation>
    </message>
    <message>
        <source>プレビュー(&amp;V)...</source>
        <translation>Pre&amp;view...</translation>
    </message>
    <message>
        <source>印刷(&amp;P)...</source>
        <translation>&amp;Print...</translation>
    </message>
    <message>
        <source>PDF に保存(&amp;S)...</source>
        <translation>&amp;Save as PDF...</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>精算書のプレビュー</source>
        <translation>Claim Form Preview</translation>
    </message>
    <message>
        <source>精算書を印刷できませんでした。プリンターの状態を確かめてください。</source>
        <translation>The claim form could not be printed. Please check the printer.</translation>
    </message>
    <message>
        <source>交通費精算書</source>
        <translation>Travel Expense Claim</translation>
    </message>
    <message>
        <source>PDF (*.pdf)</source>
        <translation>PDF (*.pdf)</translation>
    </message>
    <message>
        <source>PDF ファイルを作成できません。</source>
        <translation>The PDF file cannot be created.</translation>
    </message>
    <message>
        <source>PDF ファイルを書き込めませんでした。ディスクの空きを確かめてください。</source>
        <translation>The PDF file could not be written. Please check the free space on the disk.</translation>
    </message>
</context>
<context>
    <name>ridelog::CIpnDetailDlg</name>
    <message>
        <source>鉄道・地下鉄駅 詳細</source>
        <translation>Rail and Subway Station Details</translation>
    </message>
    <message>
        <source>日付：</source>
        <translation>Date:</translation>
    </message>
    <message>
        <source>端末：</source>
        <translation>Terminal:</translation>
    </message>
    <message>
        <source>処理：</source>
        <translation>Transaction:</translation>
    </message>
    <message>
        <source>支払額：</source>
        <translation>Amount paid:</translation>
    </message>
    <message>
        <source>円</source>
        <translation>yen</translation>
    </message>
    <message>
        <source>残額：</source>
        <translation>Balance:</translation>
    </message>
    <message>
        <source>入場駅</source>
        <translation>Entry station</translation>
    </message>
    <message>
        <source>出場駅</source>
        <translation>Exit station</translation>
    </message>
    <message>
        <source>コード：</source>
        <translation>Code:</translation>
    </message>
    <message>
        <source>会社名：</source>
        <translation>Company:</translation>
    </message>
    <message>
        <source>線区名：</source>
        <translation>Line:</translation>
    </message>
    <message>
        <source>駅名：</source>
        <translation>Station:</translation>
    </message>
    <message>
        <source>バス停留所 詳細</source>
        <translation>Bus Stop Details</translation>
    </message>
    <message>
        <source>路線名：</source>
        <translation>Route:</translation>
    </message>
    <message>
        <source>停留所：</source>
        <translation>Stop:</translation>
    </message>
    <message>
        <source>入場時刻：</source>
        <translation>Entry time:</translation>
    </message>
    <message>
        <source>出場時刻：</source>
        <translation>Exit time:</translation>
    </message>
</context>
<context>
    <name>ridelog::CNoteDlg</name>
    <message>
        <source>用途を入力</source>
        <translation>Enter Purpose</translation>
    </message>
    <message>
        <source>選択した %1 件の利用に、同じ用途と精算の印を付けます。</source>
        <translation>The same purpose and claim mark go to the %1 selected entries.</translation>
    </message>
    <message>
        <source>用途(&amp;P)：</source>
        <translation>&amp;Purpose:</translation>
    </message>
    <message>
        <source>精算(&amp;C)</source>
        <translation>&amp;Claim</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>（用途はそれぞれのまま）</source>
        <translation>(each keeps its purpose)</translation>
    </message>
</context>
<context>
    <name>ridelog::CRidelogDlg</name>
    <message>
        <source>交通費履歴読出</source>
        <translation>Transit Fare History</translation>
    </message>
    <message>
        <source>コピー(&amp;C)</source>
        <translation>&amp;Copy</translation>
    </message>
    <message>
        <source>カードを読み取れませんでした。<byte value="xd"/>
もう一度カードをセットしなおしてください。</source>
        <translation>The card could not be read.<byte value="xd"/>
Place the card on the reader again.</translation>
    </message>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>ファイルに保存(&amp;S)</source>
        <translation>&amp;Save to File...</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>表示(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>残額表示(&amp;Z)</source>
        <translation>Show &amp;Balance</translation>
    </message>
    <message>
        <source>鉄道・地下鉄 表示(&amp;P)</source>
        <translation>&amp;Rail and Subway</translation>
    </message>
    <message>
        <source>会社名(&amp;C)</source>
        <translation>&amp;Company</translation>
    </message>
    <message>
        <source>路線区(&amp;L)</source>
        <translation>&amp;Line</translation>
    </message>
    <message>
        <source>バス 表示(&amp;U)</source>
        <translation>B&amp;us</translation>
    </message>
    <message>
        <source>路線区(&amp;L)</source>
        <comment>bus route</comment>
        <translation>&amp;Route</translation>
    </message>
    <message>
        <source>店舗 表示(&amp;N)</source>
        <translation>Sho&amp;ps</translation>
    </message>
    <message>
        <source>店舗情報 表示する(&amp;D)</source>
        <translation>&amp;Show Shop Information</translation>
    </message>
    <message>
        <source>店舗名(&amp;S)</source>
        <translation>&amp;Shop Name</translation>
    </message>
    <message>
        <source>レジ名(&amp;R)</source>
        <translation>&amp;Register</translation>
    </message>
    <message>
        <source>設定(&amp;S)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>駅名キャッシュ削除(&amp;C)</source>
        <translation>Clear Station &amp;Names</translation>
    </message>
    <message>
        <source>停留所名キャッシュ削除(&amp;B)</source>
        <translation>Clear &amp;Bus Stop Names</translation>
    </message>
    <message>
        <source>店舗名キャッシュ削除(&amp;T)</source>
        <translation>Clear Sh&amp;op Names</translation>
    </message>
    <message>
        <source>履歴データ削除(&amp;H)</source>
        <translation>Delete Stored &amp;History</translation>
    </message>
    <message>
        <source>表示設定(&amp;D)...</source>
        <translation>&amp;Display Settings...</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>バージョン情報(&amp;V)...</source>
        <translation>&amp;About...</translation>
    </message>
    <message>
        <source>詳細表示(&amp;D)...</source>
        <translation>De&amp;tails...</translation>
    </message>
    <message>
        <source>残高：</source>
        <translation>Balance:</translation>
    </message>
    <message>
        <source>円</source>
        <translation>yen</translation>
    </message>
    <message>
        <source>読み取り開始</source>
        <translation>Start Reading</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>検索(&amp;F)...</source>
        <translation>&amp;Find...</translation>
    </message>
    <message>
        <source>集計(&amp;T)...</source>
        <translation>&amp;Totals...</translation>
    </message>
    <message>
        <source>駅名を再取得(&amp;R)</source>
        <translation>&amp;Reload Station Names</translation>
    </message>
    <message>
        <source>他の履歴を取り込む(&amp;I)...</source>
        <translation>&amp;Import Other History...</translation>
    </message>
    <message>
        <source>バックアップから復元(&amp;U)...</source>
        <translation>Restore from Back&amp;up...</translation>
    </message>
    <message>
        <source>一覧から隠す(&amp;L)</source>
        <translation>Hide from the &amp;List</translation>
    </message>
    <message>
        <source>選んだ行をこの一覧から消します。保存された履歴はそのままで、次の読み取りでまた表示されます。</source>
        <translation>Takes the selected rows off this list. The stored history keeps them; the next read shows them again.</translation>
    </message>
    <message>
        <source>精算書を作成(&amp;R)...</source>
        <translation>Make Claim Fo&amp;rm...</translation>
    </message>
    <message>
        <source>用途の列(&amp;E)</source>
        <translation>Purpos&amp;e Column</translation>
    </message>
    <message>
        <source>時刻の列(&amp;G)</source>
        <translation>&amp;Gate Times Column</translation>
    </message>
    <message>
        <source>用途を入力(&amp;P)...</source>
        <translation>Enter &amp;Purpose...</translation>
    </message>
    <message>
        <source>精算にチェック(&amp;M)</source>
        <translation>&amp;Mark for Claiming</translation>
    </message>
    <message>
        <source>%1 行を一覧から隠しました。保存された履歴はそのままで、次の読み取りでまた表示されます。</source>
        <translation>%1 row(s) hidden from the list. The stored history keeps them; the next read shows them again.</translation>
    </message>
</context>
<context>
    <name>ridelog::CShowDataSetupDlg</name>
    <message>
        <source>表示設定</source>
        <translation>Display Settings</translation>
    </message>
    <message>
        <source>鉄道・地下鉄&#x3000;駅名</source>
        <translation>Rail and subway station names</translation>
    </message>
    <message>
        <source>会社名を表示する</source>
        <translation>Show the company name</translation>
    </message>
    <message>
        <source>路線名を表示する</source>
        <translation>Show the line name</translation>
    </message>
    <message>
        <source>バス</source>
        <translation>Bus</translation>
    </message>
    <message>
        <source>物販</source>
        <translation>Shopping</translation>
    </message>
    <message>
        <source>店舗名を表示</source>
        <translation>Show shop information</translation>
    </message>
    <message>
        <source>店舗名を表示する</source>
        <translation>Show the shop name</translation>
    </message>
    <message>
        <source>レジ名</source>
        <translation>Register name</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>路線名を表示する</source>
        <comment>bus route</comment>
        <translation>Show the route name</translation>
    </message>
</context>
<context>
    <name>ridelog::CTotalsDlg</name>
    <message>
        <source>あり（%1円 内訳不明）</source>
        <translation>yes (%1 yen unaccounted)</translation>
    </message>
    <message>
        <source>この期間の前後で履歴が失われた可能性があります。欠落をまたぐ金額は運賃・チャージ・物販に含めていません。</source>
        <translation>Entries may have been lost around this period. Amounts across the gap are not counted as fares, charges or purchases.</translation>
    </message>
    <message>
        <source>〜</source>
        <translation> to </translation>
    </message>
    <message>
        <source>月</source>
        <translation>Month</translation>
    </message>
    <message>
        <source>集計</source>
        <translation>Totals</translation>
    </message>
    <message>
        <source>全期間(&amp;A)</source>
        <translation>&amp;All Time</translation>
    </message>
    <message>
        <source>期間：</source>
        <translation>Period:</translation>
    </message>
    <message>
        <source>カードが読み取られていません</source>
        <translation>No card read</translation>
    </message>
    <message>
        <source>カード %1</source>
        <translation>Card %1</translation>
    </message>
    <message>
        <source>履歴が欠落している可能性があります（%1か所）。欠落をまたぐ残高の変化 %2円 は集計に含めず、色付きの月に示しています。</source>
        <translation>History may be missing (%1 place(s)). The change of balance across the gaps, %2 yen, is not counted; the months concerned are coloured.</translation>
    </message>
    <message>
        <source>日付が正しくない %1件 は集計に含めていません。</source>
        <translation>%1 entries with an invalid date are not counted.</translation>
    </message>
    <message>
        <source>最も古い記録は前の残高がないため金額に含めていません。</source>
        <translation>The oldest entry has no balance before it, so its amount is not counted.</translation>
    </message>
    <message>
        <source>鉄道
回数</source>
        <translation>Rail
rides</translation>
    </message>
    <message>
        <source>鉄道
運賃</source>
        <translation>Rail
fares</translation>
    </message>
    <message>
        <source>バス
回数</source>
        <translation>Bus
rides</translation>
    </message>
    <message>
        <source>バス
運賃</source>
        <translation>Bus
fares</translation>
    </message>
    <message>
        <source>チャージ
回数</source>
        <translation>Charge
count</translation>
    </message>
    <message>
        <source>チャージ
額</source>
        <translation>Charged
yen</translation>
    </message>
    <message>
        <source>物販
回数</source>
        <translation>Purchase
count</translation>
    </message>
    <message>
        <source>物販
額</source>
        <translation>Purchased
yen</translation>
    </message>
    <message>
        <source>月末
残高</source>
        <translation>Closing
balance</translation>
    </message>
    <message>
        <source>履歴
欠落</source>
        <translation>Missing
history</translation>
    </message>
    <message>
        <source>このカードの履歴はまだありません。カードを読み取ると、月ごとの集計とグラフがここに表示されます。</source>
        <translation>There is no history of this card yet. Read the card, and its totals per month and the charts appear here.</translation>
    </message>
    <message>
        <source>カード %1（%2）</source>
        <translation>Card %1 (%2)</translation>
    </message>
</context>
<context>
    <name>ridelog::CardListDialog</name>
    <message>
        <source>すべてのカード</source>
        <translation>All Cards</translation>
    </message>
    <message>
        <source>名前またはIDmで探す</source>
        <translation>Find by name or IDm</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>IDm</source>
        <translation>IDm</translation>
    </message>
    <message>
        <source>件数</source>
        <translation>Entries</translation>
    </message>
    <message>
        <source>最新の利用</source>
        <translation>Last used</translation>
    </message>
    <message>
        <source>表示</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>ridelog::CardMenu</name>
    <message>
        <source>カード(&amp;C)</source>
        <translation>&amp;Card</translation>
    </message>
    <message>
        <source>カード名の変更(&amp;N)...</source>
        <translation>Re&amp;name Card...</translation>
    </message>
    <message>
        <source>読み取ったカードを表示(&amp;R)</source>
        <translation>Show the Card &amp;Read</translation>
    </message>
    <message>
        <source>すべてのカード(&amp;A)...</source>
        <translation>&amp;All Cards...</translation>
    </message>
    <message>
        <source>（履歴のあるカードはありません）</source>
        <translation>(no card with history)</translation>
    </message>
    <message>
        <source>カードの名前を保存できません。</source>
        <translation>The card name cannot be saved.</translation>
    </message>
</context>
<context>
    <name>ridelog::ExpenseCommands</name>
    <message>
        <source>%1 に保存しました</source>
        <translation>Saved to %1</translation>
    </message>
</context>
<context>
    <name>ridelog::HistoryFileCommands</name>
    <message>
        <source>バックアップできません</source>
        <translation>Backup failed</translation>
    </message>
    <message>
        <source>バックアップから復元</source>
        <translation>Restore from Backup</translation>
    </message>
    <message>
        <source>Ridelog の履歴 (*.sqlite)</source>
        <translation>Ridelog histories (*.sqlite)</translation>
    </message>
    <message>
        <source>すべてのファイル (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>このファイルは Ridelog の履歴として使えないため、復元しません。</source>
        <translation>This file cannot be used as a Ridelog history, so nothing was restored.</translation>
    </message>
    <message>
        <source>%1 のバックアップから復元しますか？<byte value="xd"/>
カード %2 枚、履歴 %3 件<byte value="xd"/>
<byte value="xd"/>
今の履歴は、復元の前にバックアップとして残します。</source>
        <translation>Restore the backup of %1?<byte value="xd"/>
%2 card(s), %3 entries<byte value="xd"/>
<byte value="xd"/>
The current history is kept as a backup before it is replaced.</translation>
    </message>
    <message>
        <source>復元できませんでした。今の履歴はそのままです。</source>
        <translation>The backup could not be restored. The current history is unchanged.</translation>
    </message>
    <message>
        <source>復元しました。</source>
        <translation>The backup was restored.</translation>
    </message>
    <message>
        <source>それまでの履歴は %1 に残しています。</source>
        <translation>The history as it was is kept in %1.</translation>
    </message>
    <message>
        <source>他の履歴を取り込む</source>
        <translation>Import Other History</translation>
    </message>
    <message>
        <source>履歴とカードのダンプ (*.sqlite *.card *.nfc *.blocks *.txt)</source>
        <translation>Histories and card dumps (*.sqlite *.card *.nfc *.blocks *.txt)</translation>
    </message>
    <message>
        <source>新しい履歴はありませんでした。</source>
        <translation>There was no new history.</translation>
    </message>
    <message>
        <source>取り込みました。<byte value="xd"/>
履歴 %1 件 (カード %2 枚、うち新しいカード %3 枚)、駅名など %4 件、カード名 %5 件、用途 %6 件、改札の時刻 %7 件、カードの種類 %8 件</source>
        <translation>Imported:<byte value="xd"/>
%1 entries (%2 card(s), %3 of them new), %4 names, %5 card names, %6 purposes, %7 gate times, %8 kinds of card</translation>
    </message>
    <message>
        <source>取り込めなかったファイル: %1 件</source>
        <translation>Files not imported: %1</translation>
    </message>
</context>
<context>
    <name>ridelog::HistoryListModel</name>
    <message>
        <source>改札を通った時刻（入場–出場）</source>
        <translation>When the gates were passed (entry–exit)</translation>
    </message>
    <message>
        <source>入 %1</source>
        <translation>in %1</translation>
    </message>
    <message>
        <source>出 %1</source>
        <translation>out %1</translation>
    </message>
    <message>
        <source>入場時刻 %1</source>
        <translation>Entry %1</translation>
    </message>
    <message>
        <source>出場時刻 %1</source>
        <translation>Exit %1</translation>
    </message>
    <message>
        <source>チェック：精算する利用</source>
        <translation>Checked: entries to claim</translation>
    </message>
</context>
<context>
    <name>ridelog::HistorySearchBar</name>
    <message>
        <source>検索：</source>
        <translation>Find:</translation>
    </message>
    <message>
        <source>すべての列から探す</source>
        <translation>Search every column</translation>
    </message>
    <message>
        <source>期間：</source>
        <translation>Period:</translation>
    </message>
    <message>
        <source>～</source>
        <translation>to</translation>
    </message>
    <message>
        <source>検索を閉じる (Esc)</source>
        <translation>Close the search (Esc)</translation>
    </message>
    <message>
        <source>精算のみ(&amp;M)</source>
        <translation>&amp;Marked only</translation>
    </message>
    <message>
        <source>精算にチェックした利用だけを表示します</source>
        <translation>Shows only the entries marked for claiming</translation>
    </message>
</context>
<context>
    <name>ridelog::ListHints</name>
    <message>
        <source>カードをリーダーに置いてください</source>
        <translation>Place a card on the reader</translation>
    </message>
    <message>
        <source>カードが取り外されました。一覧は最後に読み取った履歴です。</source>
        <translation>The card was taken off. The list shows the history read last.</translation>
    </message>
</context>
<context>
    <name>ridelog::MainStatusBar</name>
    <message>
        <source>残額：</source>
        <translation>Balance:</translation>
    </message>
    <message>
        <source>%1円</source>
        <translation>%1 yen</translation>
    </message>
    <message>
        <source>カードの種類：%1</source>
        <translation>Kind of card: %1</translation>
    </message>
</context>
<context>
    <name>ridelog::NoteCommands</name>
    <message>
        <source>データベースにアクセスできません</source>
        <translation>The database cannot be accessed</translation>
    </message>
    <message>
        <source>この利用の履歴は保存されていないため、用途と精算の印を記録できません。</source>
        <translation>The history of this entry is not stored, so no purpose or claim mark can be kept for it.</translation>
    </message>
    <message>
        <source>用途を記録する表（notes）が壊れているか、ほかのプログラムのものです。表はそのままにしてあり、用途は表示も記録もできません。</source>
        <translation>The table that keeps the purposes (notes) is damaged or belongs to another program. It is left as it is; purposes can be neither shown nor kept.</translation>
    </message>
    <message>
        <source>データベースがほかのプログラムに使われているため、用途を記録できませんでした。もう一度お試しください。</source>
        <translation>The database is in use by another program, so the purpose could not be kept. Please try again.</translation>
    </message>
    <message>
        <source>用途を記録できませんでした。</source>
        <translation>The purpose could not be kept.</translation>
    </message>
</context>
<context>
    <name>ridelog::card::ReaderTexts</name>
    <message>
        <source>自動で選ぶカードリーダ</source>
        <translation>automatically chosen card reader</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>カードリーダを扱う部分が組み込まれていません。</source>
        <translation>No card reader backend is built in.</translation>
    </message>
    <message>
        <source>カードリーダが見つかりません（%1）。</source>
        <translation>No card reader found (%1).</translation>
    </message>
    <message>
        <source>udev の規則 60-ridelog-readers.rules を置き（Ridelog のパッケージは /usr/lib/udev/rules.d に置きます。ソースから作ったときは data/60-ridelog-readers.rules を /etc/udev/rules.d にコピーします）、sudo udevadm control --reload-rules を実行して、リーダを差し直してください。</source>
        <translation>install the udev rule 60-ridelog-readers.rules (the Ridelog package puts it in /usr/lib/udev/rules.d; from a source build, copy data/60-ridelog-readers.rules to /etc/udev/rules.d), run sudo udevadm control --reload-rules and replug the reader</translation>
    </message>
    <message>
        <source>「%1」というカードリーダは知りません（auto、rcs380、pcsc、pcsc:NAME、libnfc のどれかです）。</source>
        <translation>unknown reader &quot;%1&quot; (use auto, rcs380, pcsc, pcsc:NAME or libnfc)</translation>
    </message>
    <message>
        <source>この Ridelog は %1 なしで作られていて、このリーダを使えません。</source>
        <translation>this Ridelog was built without %1 support</translation>
    </message>
    <message>
        <source>libnfc のカードリーダ</source>
        <translation>libnfc reader</translation>
    </message>
    <message>
        <source>libnfc を始められませんでした。</source>
        <translation>libnfc could not start</translation>
    </message>
    <message>
        <source>libnfc のリーダ（PaSoRi RC-S330/S360/S370、ACR122U）が見つかりません。</source>
        <translation>no libnfc reader found (PaSoRi RC-S330/S360/S370, ACR122U)</translation>
    </message>
    <message>
        <source>libnfc のリーダ %1 を開けません。%2 カーネルのモジュール pn533_usb と pn533、pcscd がリーダを使わないようにしてください。</source>
        <translation>cannot open the libnfc reader %1: %2; keep the kernel modules pn533_usb and pn533 and pcscd away from it</translation>
    </message>
    <message>
        <source>libnfc のリーダ %1 が動き始めませんでした（%2）。</source>
        <translation>the libnfc reader %1 did not start: %2</translation>
    </message>
    <message>
        <source>%1 を開く権限がありません。%2</source>
        <translation>permission denied opening the %1: %2</translation>
    </message>
    <message>
        <source>%1 はほかのプログラム（別の Ridelog、nfcpy、カーネルのドライバ）が使っています。そのプログラムを閉じて、リーダを差し直してください。</source>
        <translation>the %1 is in use by another program (another Ridelog, nfcpy or a kernel driver); close it and replug the reader</translation>
    </message>
    <message>
        <source>%1 にバルク転送の口がありません。</source>
        <translation>the %1 has no bulk endpoints</translation>
    </message>
    <message>
        <source>%1 を開けません（%2）。</source>
        <translation>cannot open the %1: %2</translation>
    </message>
    <message>
        <source>%1 を使い始められません（%2）。</source>
        <translation>cannot claim the %1: %2</translation>
    </message>
    <message>
        <source>USB を使えません（%1）。</source>
        <translation>USB is not available: %1</translation>
    </message>
    <message>
        <source>USB に %1 が見つかりません。</source>
        <translation>no %1 found on USB</translation>
    </message>
    <message>
        <source>PC/SC のカードリーダ</source>
        <translation>PC/SC reader</translation>
    </message>
    <message>
        <source>PC/SC のサービス pcscd が動いていません（sudo systemctl enable --now pcscd.socket で動かせます）。</source>
        <translation>the PC/SC service pcscd is not running (sudo systemctl enable --now pcscd.socket)</translation>
    </message>
    <message>
        <source>pcscd が使わせてくれません（polkit の規則で拒まれました：%1）。</source>
        <translation>pcscd refused access (permission denied by its polkit rules): %1</translation>
    </message>
    <message>
        <source>PC/SC を使えません（%1）。</source>
        <translation>PC/SC is not available: %1</translation>
    </message>
    <message>
        <source>PC/SC のリーダが見つかりません。</source>
        <translation>no PC/SC reader found</translation>
    </message>
    <message>
        <source>PC/SC のリーダの一覧を得られません（%1）。</source>
        <translation>cannot list PC/SC readers: %1</translation>
    </message>
    <message>
        <source>FeliCa を読める PC/SC のリーダがありません（あるのは %1）。</source>
        <translation>no FeliCa-capable PC/SC reader among: %1</translation>
    </message>
    <message>
        <source>「%1」という PC/SC のリーダはありません（あるのは %2）。</source>
        <translation>no PC/SC reader named &quot;%1&quot; among: %2</translation>
    </message>
    <message>
        <source>%1 (libusb)</source>
        <translation>%1 (libusb)</translation>
    </message>
    <message>
        <source>%1 (libusb、ファームウェア %2)</source>
        <translation>%1 (libusb, firmware %2)</translation>
    </message>
    <message>
        <source>RC-S380 が見つかりません。</source>
        <translation>no RC-S380 reader found</translation>
    </message>
    <message>
        <source>RC-S380 が動き始めませんでした（%1）。</source>
        <translation>the RC-S380 did not start: %1</translation>
    </message>
    <message>
        <source>%1（再生）</source>
        <translation>%1 (replay)</translation>
    </message>
    <message>
        <source>「%1」というカードリーダは知りません（auto、libnfc、pcsc、pcsc:NAME、rcs380、virtual:DIR、replay:FILE のどれかです）。</source>
        <translation>Unknown reader &quot;%1&quot; (use auto, libnfc, pcsc, pcsc:NAME, rcs380, virtual:DIR or replay:FILE).</translation>
    </message>
    <message>
        <source>%1 は再生中のトレースです。新しいトレースはほかのファイルに書いてください。</source>
        <translation>%1 is the trace being replayed; write the new trace to another file</translation>
    </message>
    <message>
        <source>「%1」というカードリーダは知りません。</source>
        <translation>Unknown reader &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>カードリーダを開けません。</source>
        <translation>The reader cannot be opened.</translation>
    </message>
    <message>
        <source>カードのフォルダ %1 を作れません。</source>
        <translation>The card folder %1 cannot be created.</translation>
    </message>
    <message>
        <source>カードのフォルダ %1 を読めません。</source>
        <translation>The card folder %1 cannot be read.</translation>
    </message>
    <message>
        <source>不明</source>
        <translation>Unknown</translation>
    </message>
</context>
<context>
    <name>ridelog::card::SimulatedReader</name>
    <message>
        <source>シミュレーションのカードリーダ（%1）</source>
        <translation>Simulated reader (%1)</translation>
    </message>
</context>
</TS>
