-- HTML reference: a page reference written as **name**(section) becomes a
-- link to that page's HTML file; the manual pages keep the plain text.
function Inlines(inlines)
  for i = #inlines - 1, 1, -1 do
    local name, after = inlines[i], inlines[i + 1]
    if name.t == "Strong" and after.t == "Str" then
      local section, rest = after.text:match("^%((%d)%)(.*)$")
      if section then
        local target = pandoc.utils.stringify(name) .. "." .. section .. ".html"
        inlines[i] = pandoc.Link({ name, pandoc.Str("(" .. section .. ")") }, target)
        if rest == "" then
          inlines:remove(i + 1)
        else
          inlines[i + 1] = pandoc.Str(rest)
        end
      end
    end
  end
  return inlines
end
