<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja_JP">
<context>
    <name>ClearingCommands</name>
    <message>
        <source>データベースにアクセスできません</source>
        <translation>Cannot access the database</translation>
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
</context>
<context>
    <name>ridelog::CAboutDlg</name>
    <message>
        <source>バージョン情報 交通費履歴</source>
        <translation>About Transit Fare History</translation>
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
</TS>
