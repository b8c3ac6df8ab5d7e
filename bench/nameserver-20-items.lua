-- wrk script: every request asks for 20 names (14 rail, 3 bus, 3 shop), as Ridelog does after
-- reading a card in daily use.
--   wrk -t2 -c8 -d10s --latency -s bench/nameserver-20-items.lua http://127.0.0.1:PORT/trfc/
local items = {}
for i = 0, 6 do
    items[#items + 1] = string.format("%d02%%2c0%%2c37%%2c%d%%3a", 1000 + i, 10 - i % 4)
    items[#items + 1] = string.format("%d04%%2c0%%2c37%%2c%d%%3a", 1000 + i, 7 + i * 5 % 40)
end
for i = 0, 2 do
    items[#items + 1] = string.format("%d20%%2c2620%%2c%d%%2c0%%3a", 1007 + i, 18 + i)
    items[#items + 1] = string.format("%d11%%2c199%%2c%d%%2c0%%3a", 1010 + i, 300 + i * 256)
end
wrk.method = "POST"
wrk.body = "a=" .. table.concat(items) .. "&p=ap&"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
wrk.headers["User-Agent"] = "Hotaru RLG1.2 (Station: ) Agent"
