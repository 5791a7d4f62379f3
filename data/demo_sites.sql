-- Rules for the two made-up sites of the local test web server (tools/testsite). "@BASE@"
-- stands for the server's address, e.g. http://127.0.0.1:8080; it is filled in on import.

-- GBK site: result list in a table, an exact name jumps (302, absolute) to the novel.
INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (901, '书海阁', '@BASE@/gbk/', 'gbk',
    '@BASE@/gbk/search?q={KEY}',
    '<table id="results">(.+?)</table>',
    '<td class="name"><a href="[^"]*">(.+?)</a></td>',
    '<td class="author">(.+?)</td>',
    '<td class="latest"><a href="[^"]*">(.+?)</a></td>',
    '<td class="name"><a href="(.+?)">',
    '',
    '<h1>(.+?)</h1>',
    '作&nbsp;&nbsp;者：(.+?)</p>',
    '', '',
    '最新章节：<a href="[^"]*">(.+?)</a>',
    '<a class="read" href="(.+?)">',
    '<div id="list">(.+?)</div>',
    '<dd><a href="(.+?)">(.+?)</a></dd>',
    '<div id="content">(.+?)</div>',
    '【书海阁首发】(?:<br />)?\s*|(?:<br />)?\s*请记住本站域名：书海阁');

-- UTF-8 site: relative result addresses, an exact name jumps (302, relative Location), the
-- chapter title stands before the link address.
INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (902, '云中书库', '@BASE@/utf8/', 'utf-8',
    '@BASE@/utf8/search.php?keyword={KEY}',
    '<ul class="result-list">(.+?)</ul>',
    '<span class="s2"><a href="[^"]*">(.+?)</a></span>',
    '<span class="s4">(.+?)</span>',
    '<span class="s3">(.+?)</span>',
    '<span class="s2"><a href="(.+?)">',
    '',
    '<meta property="og:novel:book_name" content="(.+?)"/>',
    '<meta property="og:novel:author" content="(.+?)"/>',
    '', '',
    '<meta property="og:novel:latest_chapter_name" content="(.+?)"/>',
    '<a id="dir" href="(.+?)">',
    '<div class="listmain">(.+?)</div>',
    '<dd title="(.+?)"><a href="(.+?)">',
    '<div class="text">(.+?)</div>',
    '<script>ad\(\);</script>');

-- A mobile-style site: its lists over pages of 20 with the newest chapters above the first
-- page's list (repeated links keep their last place), its chapters over two or three pages,
-- every address behind a redirect from its old one. It has no search: open a novel by its
-- address ("@BASE@/m/book/1/").
INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (903, '手机书屋', '@BASE@/m/', 'utf-8',
    '', '', '', '', '', '', '',
    '<h1 class="title">(.+?)</h1>',
    '<p class="author">作者：(.+?)</p>',
    '', '',
    '<p class="latest">最新：<a href="[^"]*">(.+?)</a></p>',
    '<a class="all" href="(.+?)">',
    '<ul class="chapters">(.+?)</ul>',
    '<li><a href="(.+?)">(.+?)</a></li>',
    '<div id="nr1">(.+?)</div>',
    '');
INSERT OR REPLACE INTO site_page_rule (site_id, chapter_next_page, directory_next_page,
    distinct_links)
VALUES (903, '<a id="pb_next" href="([^"]+)">下一页</a>', '<a class="next" href="([^"]+)">下一页</a>',
    1);
-- Its chapters are shown only to a reader who came from one of its own pages.
INSERT OR REPLACE INTO site_request_header (site_id, user_agent, referer, referer_from_link,
    extra_headers)
VALUES (903, '', '', 1, '');
-- The health check of the mobile-style site (no search) starts from a novel it carries.
INSERT OR REPLACE INTO site_check (site_id, keyword, info_page_url)
VALUES (903, '', '@BASE@/m/book/1/');
