-- Ten requests to a device that answers each with ACK and "OK", such as
--   tarvik-sim --reply '\x06OK'
-- Run: tarvik2-run --script docs/examples/poll.lua PORT
for i = 1, 10 do
  send('"AT" 0x0D')
  expect('0x06 "OK"', {timeout = 2000, name = 'ack'})
end
